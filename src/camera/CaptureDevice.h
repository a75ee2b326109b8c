// The capture devices the station can use, behind one interface: V4L2 cameras (/dev/video*,
// through libv4l2) and virtual cameras named by KESTROVA_VIRTUAL_CAMERAS.
//
// KESTROVA_VIRTUAL_CAMERAS holds device names separated by semicolons. Each name may carry
// options after a "|": "WxH" gives the camera a fixed picture size that it keeps whatever
// format is asked for (a camera that refuses 320 x 240), "inputs=N" gives it N selectable
// inputs. Example: "Logitech QuickCam Orbit;Old Cam|640x480;TV Card|inputs=3".
// A virtual camera whose name is taken out of the variable while it is connected behaves like
// a camera that was unplugged; putting it back plugs it in again.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrova {

// The camera-control properties that the motor back-ends move.
enum class CameraProperty { Pan, Tilt, Zoom };

// The V4L2 control that stands for a camera property (virtual cameras use the same ids).
std::uint32_t V4l2ControlId(CameraProperty property);

// Range of a camera-control property, in the camera's own units (UVC cameras report pan and
// tilt in arc seconds; the virtual cameras in tenths of a pixel of their world).
struct ControlRange {
    std::int32_t min = 0;
    std::int32_t max = 0;
    std::int32_t step = 0;
    std::int32_t def = 0;
    std::int32_t flags = 0;
};

// One setting of a device, as its settings dialog shows it.
struct DeviceControl {
    enum class Kind { Integer, Boolean, Menu, Button };
    std::uint32_t id = 0;
    QString name;
    Kind kind = Kind::Integer;
    std::int32_t min = 0;
    std::int32_t max = 0;
    std::int32_t step = 1;
    std::int32_t def = 0;
    std::int32_t value = 0;
    bool readOnly = false;
    std::vector<std::pair<std::int32_t, QString>> menu; // menu entries: value and label
};

// An entry of the device list.
struct CaptureDeviceInfo {
    QString name; // the name users see and the classification reads
    QString id;   // what identifies the same camera again after it was unplugged
    QString path; // V4L2: the device node; virtual: the whole entry of the variable
    bool isVirtual = false;
};

class CaptureDevice : public QObject {
    Q_OBJECT
  public:
    ~CaptureDevice() override;

    virtual QString name() const = 0;

    // Asks for RGB frames of the given size. True when the device delivers exactly that size;
    // otherwise it goes on at the size it chose (frameSize()).
    virtual bool setFormat(int width, int height) = 0;
    virtual QSize frameSize() const = 0;

    // The newest frame (RGB888, frameSize()); null when there is none yet or the device is
    // gone. Devices that do not push frames produce one here.
    virtual QImage frame() = 0;

    // True when frames arrive by themselves (frameArrived); false when frame() makes them.
    virtual bool pushesFrames() const = 0;

    // True once the device has gone away (unplugged); it delivers nothing more.
    virtual bool lost() const = 0;

    virtual bool controlRange(CameraProperty property, ControlRange& range) = 0;
    virtual bool controlValue(CameraProperty property, std::int32_t& value) = 0;
    virtual bool setControlValue(CameraProperty property, std::int32_t value) = 0;

    // Selectable inputs (video source, tuner, composite ...). One or none for a camera.
    virtual QStringList inputs() = 0;
    virtual int currentInput() = 0;
    virtual bool selectInput(int index) = 0;

    // Every setting of the device, for its settings dialog; setControl acts at once.
    virtual std::vector<DeviceControl> controls() = 0;
    virtual bool setControl(std::uint32_t id, std::int32_t value) = 0;

  signals:
    void frameArrived();
    void deviceLost();
};

// The capture devices present now: V4L2 devices in node order, then the virtual cameras.
std::vector<CaptureDeviceInfo> ListCaptureDevices();

// Opens a device of the list; null when it cannot be opened (gone, busy).
std::unique_ptr<CaptureDevice> OpenCaptureDevice(const CaptureDeviceInfo& info);

} // namespace kestrova
