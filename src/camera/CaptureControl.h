// The capture control (camSrc): one per window that shows a camera. It keeps the device list,
// connects one device, delivers its frames to the preview, draws the text overlay into them,
// and passes the camera-control, input and settings requests on to the device.
//
// A connected device that goes away (unplugged) leaves the control connected without a
// picture: frames come back empty, the preview is told that the picture is gone, and the
// control looks for the same camera again every two seconds until it is back or the control
// is disconnected.
#pragma once

#include "camera/CaptureDevice.h"
#include "camera/Overlay.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <vector>

class QWidget;

namespace kestrova {

class CaptureControl : public QObject {
    Q_OBJECT
  public:
    explicit CaptureControl(QObject* parent = nullptr);
    ~CaptureControl() override;

    // Reads the device list afresh and returns the number of devices.
    int DeviceCount();
    // The name of a device of the list last read; empty for an index outside it.
    QString DeviceName(int index) const;

    // The device that Connected(true) connects; -1 none.
    int Device() const { return device_; }
    void SetDevice(int index);

    // True from SetConnected(true) until SetConnected(false), also while the device is away.
    bool Connected() const { return connected_; }
    // Connecting reads the device list again and opens the device at Device(); one that
    // cannot be opened is looked for again like one that was unplugged.
    void SetConnected(bool on);
    // True while a device is open and usable.
    bool HasDevice() const { return open_ != nullptr; }
    QString ConnectedName() const { return connectedInfo_.name; }

    bool Preview() const { return preview_; }
    void SetPreview(bool on);

    // True when the device delivers exactly this size; it keeps the size asked for and asks
    // for it again when the device comes back.
    bool SetVideoFormat(int width, int height);
    QSize FrameSize() const;

    // 1 for a device with selectable inputs, 0 otherwise.
    int SourceKind() const;
    bool SelectInput(int index);
    int CurrentInput() const;
    QStringList Inputs() const;

    bool GetCameraControlRange(CameraProperty property, ControlRange& range);
    bool GetCameraControl(CameraProperty property, std::int32_t& value);
    bool SetCameraControl(CameraProperty property, std::int32_t value);

    // The settings of the device and the change of one, for the settings dialog.
    std::vector<DeviceControl> DeviceControls();
    bool SetDeviceControl(std::uint32_t id, std::int32_t value);

    // Shows the device's settings dialog (not modal; one at a time).
    void ShowSourceDialog(QWidget* parent);

    void SetTextOverlay(int slot, const QString& text, int left, int top, const QString& font,
                        int size, int colour, int background);
    const TextOverlay& Overlay() const { return overlay_; }

    // The current frame with the overlay drawn in; null when there is no picture.
    QImage CurrentFrame();
    // The current frame brought to exactly `size` (stretched when the device delivers another
    // size), with the overlay drawn in after the scaling so that the text keeps its size.
    QImage CurrentFrame(const QSize& size);

    // True while the control waits for its device to come back.
    bool Reconnecting() const { return connected_ && !open_; }
    // One look for the missing device (the timer calls it every two seconds).
    void TryReconnect();

  signals:
    // A new frame for the preview; a null image when the picture has gone.
    void frameChanged(const QImage& frame);
    // Connected(true) and Connected(false), each time.
    void connectionChanged(bool connected);
    void pictureLost(const QString& name);
    void pictureBack(const QString& name, int index);

  private:
    void OpenDevice();
    void CloseDevice();
    void HandleLoss();
    void OnFrameArrived();
    void OnHealthTick();
    void UpdatePreviewTimer();
    void DrawPreviewFrame();
    // The device's frame as it delivers it, without the overlay; null when there is none.
    QImage GrabFrame();
    QImage Compose(QImage frame);

    std::vector<CaptureDeviceInfo> devices_;
    int device_ = -1;
    bool connected_ = false;
    bool preview_ = false;
    QSize format_;
    CaptureDeviceInfo connectedInfo_;
    std::unique_ptr<CaptureDevice> open_;
    TextOverlay overlay_;
    QTimer previewTimer_; // draws frames of devices that do not push them
    QTimer healthTimer_;  // notices a silent loss and looks for a missing device
    QPointer<QWidget> sourceDialog_;
};

// Every connection of a capture control is made the same way: the device at `index`,
// connected, the 320 x 240 format asked for, the preview started. Returns whether the device
// accepted the format (a refused format still leaves the device connected and previewed).
bool ConnectAt320x240(CaptureControl& control, int index);

} // namespace kestrova
