// Synchronising the viewer-facing options with the relay: the whole option set as one form
// posted to "/webcams/SyncWebcams", on a socket of its own.
#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

namespace kestrova {

class ServiceSocket;

// The bounds of one synchronisation: the connection, and the relay's answer.
struct SyncTimeouts {
    int connectMs = 10000;
    int answerMs = 10000;
};

class SettingsSync {
  public:
    SettingsSync();
    ~SettingsSync();
    SettingsSync(const SettingsSync&) = delete;
    SettingsSync& operator=(const SettingsSync&) = delete;

    // Sends the options while the relay side runs (ReflectorRunning); otherwise nothing.
    void Synchronize();

    // Sends the options to the relay and waits for its answer: "Settings written
    // successfully." or "Failed to synchronise settings." (or the relay's close, or the bound).
    void ReflectorSynchronize();

    // The form body, its fields in their order; the password is URL-encoded.
    static QByteArray SyncBody();
    // The request's header block for a body of `length` bytes.
    static QByteArray SyncHeader(qsizetype length);

    // Where the relay's answer is read: the posting helper's answer handler, which knows the
    // phrases of every answer the station waits for and returns whether the piece answers.
    void setAnswerHandler(std::function<bool(const QByteArray&)> handler) {
        answerHandler_ = std::move(handler);
    }
    void setTimeouts(const SyncTimeouts& timeouts) { timeouts_ = timeouts; }
    void CloseSyncSocket();

  private:
    std::unique_ptr<ServiceSocket> socket_;
    std::function<bool(const QByteArray&)> answerHandler_;
    SyncTimeouts timeouts_;
    bool answered_ = false;
};

} // namespace kestrova
