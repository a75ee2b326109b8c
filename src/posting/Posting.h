// The channel to the local posting helper (BeaconServer) and what the station asks of it: the
// live-listing entry (posting), the relay's move polling and visitor check. One request at a
// time goes over ClientSocket to 127.0.0.1:11111: the request line, for some requests a
// parameter line, then the wait for an answer holding the phrases the station looks for.
#pragma once

#include "core/AppState.h"
#include "core/Wait.h"

#include <QByteArray>
#include <QNetworkInformation>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrova {

class ServiceSocket;

// The port the posting helper listens on; the station tells it on its command line.
constexpr std::uint16_t kPostingHelperPort = 11111;

// The port this station's helper uses: kPostingHelperPort, unless KESTROVA_POSTING_PORT names
// another (so that stations under test on one machine keep out of each other's way).
std::uint16_t PostingHelperPort();

// Whether the machine has a network connection, from what the system's network information
// says: the Internet, a site and a local network without the Internet all count; a machine
// with only its loopback does not. Where the information knows nothing, or says "local" (which
// a loopback alone may be), `interfaceUp` decides: whether an interface other than the
// loopback is up with an address.
bool HasNetworkConnection(QNetworkInformation::Reachability reachability,
                          const std::function<bool()>& interfaceUp);

// The bounds of one request: the connection, and the helper's answer.
struct ChannelTimeouts {
    int connectMs = 10000;
    int answerMs = 10000;
};

// The seven values the live listing shows, as last posted.
struct PostedValues {
    QString cameraName; // the whole 256-character field
    std::int16_t passwords = 0;
    std::int16_t ptz = 0;
    QString emailAddress; // the whole 256-character field
    std::int16_t liveListing = 0;
    std::int16_t hideThumbnail = 0;
    std::int16_t displayArchive = 0;
    bool operator==(const PostedValues& other) const;
};

class PostingClient {
  public:
    explicit PostingClient(std::uint16_t port = PostingHelperPort());
    ~PostingClient();
    PostingClient(const PostingClient&) = delete;
    PostingClient& operator=(const PostingClient&) = delete;

    // Sends one request (and its parameter line when not empty) to the posting helper and
    // waits for its answer: returns when an answer arrived (RequestAnswered), the connection
    // could not be made or was closed, the answer bound passed, or the station is closing.
    // Only "shutdown", itself part of the close, waits on while the station closes.
    void SendJavaRequest(const QString& request, const QString& params,
                         OnClose onClose = OnClose::Abort);

    // Applies a piece of an answer to the shared flags; the settings synchronisation's answers
    // come here too. True when the piece answers the request under way.
    bool HandleAnswer(const QByteArray& piece);

    // The 30-second posting tick: online check, posting check, then connect, edit or
    // disconnect posting.
    void SlowTimerTick();
    void ConnectPosting();
    void EditPosting();
    void DisconnectPosting();
    void CheckPosting();

    // The relay's jobs: the visitor check ("start_reflector", "stop_reflector") and, for a
    // motorised camera, the move polling ("start_polling", "stop_polling").
    void StartVisitorCheck();
    void StopVisitorCheck();
    void StartMovePolling();
    void StopMovePolling();
    // The retry timers: each sends its start again until the helper has confirmed it.
    void tmrMovePoller_Timer();
    void tmrCheckVisitor_Timer();

    // A new helper runs in place of one that ended: it holds no posting and no relay job. The
    // flags of all three are cleared; once the helper has had time to listen, a posting tick
    // runs (after start-up) and then, while `relaySideOn` says so, the retry timers send
    // "start_reflector" and (motorised camera) "start_polling" again. One after the other, so
    // that no request takes the channel over from another.
    void ResumeWithNewHelper(std::function<bool()> relaySideOn);
    // How long a new helper is given to listen before it is asked (2 s, as at start-up).
    void setResumeDelay(int ms) { resumeTimer_.setInterval(ms); }

    // True when the live listing can be reached: its host is this machine, or the system has
    // a connection to the network.
    bool IsOnline() const;

    // The listing data string: 14 fields joined by "&".
    static QString ListingData();
    // The parameter line of a relay job: the relay's address with `path`, the camera's
    // identifier, ";" and the command listener's port.
    static QString RelayParameterLine(const QString& path);

    void CloseClientSocket();

    void setTimeouts(const ChannelTimeouts& timeouts) { timeouts_ = timeouts; }
    // Replaces the system's online check (tests).
    void setOnlineCheck(std::function<bool()> check) { onlineCheck_ = std::move(check); }

  private:
    void OnChannelClosed();
    void OnChannelError(const QString& description);

    std::uint16_t port_;
    std::unique_ptr<ServiceSocket> clientSocket_;
    // Counts the requests: the one under way knows whether a later one took the channel over.
    std::uint64_t requests_ = 0;
    ChannelTimeouts timeouts_;
    PostedValues lastPosted_;
    std::function<bool()> onlineCheck_;
    QTimer resumeTimer_;
    std::function<bool()> resumeRelaySide_;
};

} // namespace kestrova
