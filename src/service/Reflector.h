// The relay ("reflector"): directory look-up, registration, and switching the broadcast on
// and off.
#pragma once

#include <QString>

#include <functional>

namespace kestrova {

class SettingsSync;
class Uploader;
class WebClient;

// The service folder of every request to the relay.
inline QString ServiceFolder() {
    return QStringLiteral("webcams");
}

// CameraId without surrounding blanks, written back trimmed; empty when it is not an
// identifier that may be sent (letters, digits, "-" and "_", at most 50).
QString CameraIdForRequest();

// The relay's jobs that the posting helper runs for the station: the visitor check and, for a
// camera with a motor, the move polling. The station connects them to its posting helper.
struct RelayJobs {
    std::function<void()> startVisitorCheck;
    std::function<void()> stopVisitorCheck;
    std::function<void()> startMovePolling;
    std::function<void()> stopMovePolling;
};

class ReflectorClient {
  public:
    ReflectorClient(WebClient& web, Uploader& uploader, SettingsSync& sync)
        : web_(web), uploader_(uploader), sync_(sync) {}

    void setJobs(RelayJobs jobs) { jobs_ = std::move(jobs); }

    // Asks the directory (MainHost and MainPort of the deployment) for the relay: on success
    // ReflectorHost, ReflectorPort and ReflectorPath are set, and the frame upload is aimed at
    // the relay. False when the exchange failed or the answer is not host, port and path
    // lines; nothing is changed then.
    bool GetReflectorDetails();

    // True when the relay holds the camera's folder (any answer without "Exists: false").
    bool CheckCameraFolder();

    // True when the relay confirmed the registration ("User Registered Successfully.").
    bool RegisterCamera();

    // Looks up the relay, registers the camera when its folder is missing and switches on the
    // frame upload, the visitor check and (camera with a motor) the move polling. A start that
    // the station's close cuts short switches nothing on and shows no message.
    void StartReflector();

    // Switches them off again; an upload under way finishes by itself.
    void StopReflector();

    // True from a StartReflector that switched the relay side on until StopReflector: the
    // relay's jobs are wanted of the posting helper (whether or not viewers are watching).
    bool relaySideOn() const { return relaySideOn_; }

  private:
    QByteArray RelayExchange(const QString& uri);

    WebClient& web_;
    Uploader& uploader_;
    SettingsSync& sync_;
    RelayJobs jobs_;
    bool relaySideOn_ = false;
};

} // namespace kestrova
