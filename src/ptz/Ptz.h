// Pan, tilt and zoom: the motor back-ends of the connected camera and the local command
// listener through which viewers' commands arrive.
#pragma once

namespace kestrova {

class CaptureControl;

class PtzControl {
  public:
    // `camSrc` is the capture control whose camera-control properties move the camera.
    explicit PtzControl(CaptureControl& camSrc) : camSrc_(camSrc) {}

    // Step sizes, ranges and direction codes of the connected camera's motor; the zoom slider.
    void ReadMotorRanges();

    // Connects the motor library of the camera's back-end at start-up.
    void ConnectMotorAtStartup();

    void OpenPtzListener();
    void ClosePtzListener();

  private:
    CaptureControl& camSrc_;
};

} // namespace kestrova
