// The live frame upload to the relay: every watchdog tick, once the previous upload has ended,
// the current frame goes to the relay as a multipart POST on ReflectorSocket. The relay closes
// the connection after its answer; the next upload follows one watchdog interval later.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrova {

class ServiceSocket;

// Where frames come from: called with true for the local image (camera change under way),
// with false for the camera's latest frame. The station connects it to the camera.
using FrameSource = std::function<QByteArray(bool localImage)>;

// The bounds of one upload: the connection (10 s) and the relay's answer and close (30 s),
// after which the upload is dropped and the cycle goes on.
struct UploadTimeouts {
    int connectMs = 10000;
    int answerMs = 30000;
};

class Uploader {
  public:
    Uploader();
    ~Uploader();
    Uploader(const Uploader&) = delete;
    Uploader& operator=(const Uploader&) = delete;

    // The tmrWatchdog tick: uploads when the previous upload has ended and the relay is active.
    void WatchdogTick();

    // Uploads the current frame. `override` (the first frame after start-up) uploads even while
    // the relay is not active or a camera change is under way (then the local image is sent).
    void UploadImage(bool override);

    // Closes ReflectorSocket. An upload that was connecting or waiting for the relay's answer
    // counts as ended.
    void CloseReflectorSocket();

    void setFrameSource(FrameSource source) { source_ = std::move(source); }
    void setTimeouts(const UploadTimeouts& timeouts) { timeouts_ = timeouts; }
    const UploadTimeouts& timeouts() const { return timeouts_; }

  private:
    // How far the upload that holds ReflectorSocket has come.
    enum class Stage {
        None,       // no upload holds the socket
        Connecting, // waiting for the connection
        Open,       // the frame is sent, the relay's answer and close are awaited
    };
    enum class ConnectResult {
        Connected,
        Failed,   // the upload is to be ended
        TakenOver // the socket was closed or reconnected meanwhile: whoever did it has the cycle
    };

    ConnectResult ConnectUploader();
    void ForgetUpload();
    void CloseQuietly();
    void EndUpload();
    void OnReflectorData(const QByteArray& piece);
    void OnReflectorClose();
    void OnReflectorError(const QString& description);
    void OnAnswerTimeout();

    std::unique_ptr<ServiceSocket> reflectorSocket_;
    Stage stage_ = Stage::None;
    // Bounds the wait for the relay's answer and close.
    QTimer answerTimer_;
    FrameSource source_;
    UploadTimeouts timeouts_;
};

// A frame posted as multipart/form-data with the fields id, path and frame.
struct MultipartPost {
    QByteArray header; // request line and headers, ending with the blank line
    QByteArray body;   // the parts and the closing boundary; Content-Length is its size
};

// The POST of one frame to `requestPath` ("/webcams/Reflector" for live frames) at host:port,
// with the boundary and the frame's file name given.
MultipartPost BuildFramePost(const QByteArray& requestPath, const QString& host, std::uint16_t port,
                             const QString& cameraId, const QString& boundary,
                             const QString& fileName, const QByteArray& jpeg);

} // namespace kestrova
