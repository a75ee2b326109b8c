// Video4Linux2 cameras through libv4l2, which converts whatever the camera sends into RGB24.
#pragma once

#include "camera/CaptureDevice.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <memory>

class QSocketNotifier;

namespace kestrova {

// The capture nodes among /dev/video* (V4L2_CAP_VIDEO_CAPTURE in the node's own
// capabilities), in node order, named by the driver's card name.
std::vector<CaptureDeviceInfo> ListV4l2Devices();

class V4l2Device : public CaptureDevice {
    Q_OBJECT
  public:
    // Opens the node; null when it cannot be opened or is not a capture device.
    static std::unique_ptr<V4l2Device> Open(const CaptureDeviceInfo& info);
    ~V4l2Device() override;

    QString name() const override { return name_; }
    bool setFormat(int width, int height) override;
    QSize frameSize() const override { return QSize(width_, height_); }
    QImage frame() override;
    bool pushesFrames() const override { return true; }
    bool lost() const override;

    bool controlRange(CameraProperty property, ControlRange& range) override;
    bool controlValue(CameraProperty property, std::int32_t& value) override;
    bool setControlValue(CameraProperty property, std::int32_t value) override;

    QStringList inputs() override;
    int currentInput() override;
    bool selectInput(int index) override;

    std::vector<DeviceControl> controls() override;
    bool setControl(std::uint32_t id, std::int32_t value) override;

  private:
    V4l2Device(int fd, QString name);
    int Ioctl(unsigned long request, void* arg);
    void ReadFormat();
    void StartReading();
    void StopReading();
    void OnReadable();
    void MarkLost();

    int fd_;
    QString name_;
    int width_ = 0;
    int height_ = 0;
    int bytesPerLine_ = 0;
    bool rgb24_ = false;
    bool lost_ = false;
    int fruitlessReads_ = 0;
    QByteArray buffer_;
    QImage latest_;
    QElapsedTimer latestAge_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace kestrova
