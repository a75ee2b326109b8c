#include "posting/Posting.h"

#include "core/Controls.h"
#include "core/EventLog.h"
#include "core/Text.h"
#include "posting/ChannelAnswer.h"
#include "service/ServiceSocket.h"
#include "settings/Deployment.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInformation>
#include <QNetworkInterface>

#include <exception>

namespace kestrova {

namespace {

const QString kHelperHost = QStringLiteral("127.0.0.1");

// The host part of "host", "host:port" or "[v6]:port".
QString HostOf(const QString& hostAndPort) {
    QString host = hostAndPort.trimmed();
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype end = host.indexOf(QLatin1Char(']'));
        return end < 0 ? host : host.mid(1, end - 1);
    }
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    if (colon >= 0 && host.indexOf(QLatin1Char(':'), colon + 1) < 0)
        host.truncate(colon);
    return host;
}

bool IsLoopbackHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// Whether an interface other than the loopback is up and has an address.
bool NetworkInterfaceUp() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (!interface.addressEntries().isEmpty())
            return true;
    }
    return false;
}

bool SystemOnline() {
    const bool informed =
        QNetworkInformation::instance() || QNetworkInformation::loadDefaultBackend();
    return HasNetworkConnection(informed ? QNetworkInformation::instance()->reachability()
                                         : QNetworkInformation::Reachability::Unknown,
                                NetworkInterfaceUp);
}

PostedValues CurrentValues() {
    const AppState& s = App();
    PostedValues v;
    v.cameraName = s.Cam.CameraName.text();
    v.passwords = s.Settings.PasswordsEnabled;
    v.ptz = s.IsPtzCamera;
    v.emailAddress = s.Cam.EmailAddress.text();
    v.liveListing = s.Settings.LiveListing;
    v.hideThumbnail = s.Settings.HideThumbnail;
    v.displayArchive = s.Archive.DisplayArchive;
    return v;
}

} // namespace

std::uint16_t PostingHelperPort() {
    bool ok = false;
    const uint port = qEnvironmentVariable("KESTROVA_POSTING_PORT").toUInt(&ok);
    return ok && port >= 1 && port <= 65535 ? static_cast<std::uint16_t>(port) : kPostingHelperPort;
}

bool PostedValues::operator==(const PostedValues& other) const {
    return cameraName == other.cameraName && passwords == other.passwords && ptz == other.ptz &&
           emailAddress == other.emailAddress && liveListing == other.liveListing &&
           hideThumbnail == other.hideThumbnail && displayArchive == other.displayArchive;
}

PostingClient::PostingClient(std::uint16_t port)
    : port_(port), clientSocket_(std::make_unique<ServiceSocket>(ServiceSocket::Handlers{
                       {},
                       [this](const QByteArray& piece) { HandleAnswer(piece); },
                       [this] { OnChannelClosed(); },
                       [this](const QString& description) { OnChannelError(description); }})),
      onlineCheck_(SystemOnline) {
    resumeTimer_.setSingleShot(true);
    resumeTimer_.setInterval(2000);
    QObject::connect(&resumeTimer_, &QTimer::timeout, [this] {
        const auto closing = [] {
            return App().ShutdownRequested == kTrue || App().AbortRequested == kTrue;
        };
        if (!closing() && Timers().SlowTimer.isActive())
            SlowTimerTick();
        if (closing() || !resumeRelaySide_ || !resumeRelaySide_())
            return;
        Timers().tmrCheckVisitor.start();
        if (App().IsPtzCamera == kTrue)
            Timers().tmrMovePoller.start();
    });
}

PostingClient::~PostingClient() = default;

void PostingClient::SendJavaRequest(const QString& request, const QString& params,
                                    OnClose onClose) {
    App().RequestAnswered = kFalse;
    ServiceSocket& socket = *clientSocket_;
    const std::uint64_t requestNumber = ++requests_;
    socket.connectTo(kHelperHost, port_);

    // A request started from an event handler during one of the waits takes the channel over:
    // this one then sends nothing more and returns with the answer to the later one.
    const auto takenOver = [this, requestNumber] { return requests_ != requestNumber; };
    const auto waitForLaterAnswer = [&] {
        WaitUntil([] { return App().RequestAnswered == kTrue; }, timeouts_.answerMs, onClose);
    };

    const WaitResult connected = WaitUntil(
        [&] {
            return takenOver() || socket.state() == QAbstractSocket::ConnectedState ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeouts_.connectMs, onClose);
    if (takenOver()) {
        waitForLaterAnswer();
        return;
    }
    if (connected != WaitResult::Done || socket.state() != QAbstractSocket::ConnectedState) {
        socket.closeQuietly();
        WriteLog(socket.connectFailedLine(connected));
        return;
    }

    socket.write(request.toUtf8() + QByteArrayLiteral("\r\n"));
    if (!params.isEmpty())
        socket.write(params.toUtf8() + QByteArrayLiteral("\r\n"));

    // The answer ends the wait; so does the helper's close without one (no answer can come on
    // a closed connection). A helper that says nothing is given up after the answer bound.
    const WaitResult answered = WaitUntil(
        [&] {
            return App().RequestAnswered == kTrue || takenOver() ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeouts_.answerMs, onClose);
    if (takenOver() && App().RequestAnswered != kTrue) {
        waitForLaterAnswer();
        return;
    }
    if (answered == WaitResult::TimedOut) {
        WriteLog(QStringLiteral("Connection failed: No answer to ") + request);
        socket.closeQuietly();
    } else if (App().RequestAnswered != kTrue && !takenOver() &&
               socket.state() == QAbstractSocket::UnconnectedState) {
        WriteLog(ServiceSocket::closedBeforeAnswerLine());
    }
}

bool PostingClient::HandleAnswer(const QByteArray& piece) {
    const ChannelAnswer answer = ReadChannelAnswer(piece);
    AppState& s = App();
    const auto apply = [](Flag& flag, const std::optional<bool>& value) {
        if (value)
            flag = *value ? kTrue : kFalse;
    };
    apply(s.PostingActive, answer.postingActive);
    apply(s.PostingCheckOK, answer.postingCheckOK);
    apply(s.PollingActive, answer.pollingActive);
    apply(s.ReflectorRunning, answer.reflectorRunning);
    if (answer.answered)
        s.RequestAnswered = kTrue;
    return answer.answered;
}

// The helper closed the channel. After "shutdown" that means it has gone.
void PostingClient::OnChannelClosed() {
    if (App().ShutdownRequested == kTrue)
        App().PostingServerRunning = kFalse;
}

void PostingClient::OnChannelError(const QString& description) {
    const QString text = StampedLine(QStringLiteral(" Network Error:") + description);
    App().LastErrorText = text;
    WriteLog(text);
}

void PostingClient::CloseClientSocket() {
    clientSocket_->closeQuietly();
}

bool HasNetworkConnection(QNetworkInformation::Reachability reachability,
                          const std::function<bool()>& interfaceUp) {
    switch (reachability) {
    case QNetworkInformation::Reachability::Online:
    case QNetworkInformation::Reachability::Site:
        return true;
    case QNetworkInformation::Reachability::Disconnected:
        return false;
    case QNetworkInformation::Reachability::Local:
    case QNetworkInformation::Reachability::Unknown:
        break;
    }
    // A local network counts, a loopback alone does not.
    return interfaceUp();
}

bool PostingClient::IsOnline() const {
    if (IsLoopbackHost(HostOf(ReadDeployment().SecondaryHost)))
        return true;
    return onlineCheck_ && onlineCheck_();
}

QString PostingClient::ListingData() {
    const AppState& s = App();
    const QString email = UrlEncode(s.Cam.EmailAddress.trimmed());
    const QStringList fields{
        ReadDeployment().SecondaryHost,
        s.ReflectorHost.trimmed(),
        QString::number(s.ReflectorPort),
        QString(),
        QStringLiteral("webcams"),
        UrlEncode(s.Cam.CameraName.trimmed()),
        email.isEmpty() ? QStringLiteral(" ") : email,
        QString::number(s.TypeNumber),
        s.IsPtzCamera == kTrue ? QStringLiteral("1") : QStringLiteral("0"),
        QString::number(s.Settings.PasswordsEnabled),
        s.CameraId.trimmed(),
        QString::number(s.Settings.LiveListing),
        QString::number(s.Settings.HideThumbnail),
        QString::number(s.Archive.DisplayArchive),
    };
    return fields.join(QLatin1Char('&'));
}

QString PostingClient::RelayParameterLine(const QString& path) {
    const AppState& s = App();
    return QStringLiteral("http://") + s.ReflectorHost.trimmed() + QLatin1Char(':') +
           QString::number(s.ReflectorPort) + path + s.CameraId.trimmed() + QLatin1Char(';') +
           QString::number(s.Settings.PtzPort);
}

void PostingClient::ConnectPosting() {
    WriteLog(QStringLiteral("Connect Posting: connecting."));
    const QString data = ListingData();
    WriteLog(QStringLiteral("Connect Posting: Data = ") + data);
    SendJavaRequest(QStringLiteral("begin_posting"), data);
}

void PostingClient::EditPosting() {
    WriteLog(QStringLiteral("Edit Posting: Called"));
    const QString data = ListingData();
    WriteLog(QStringLiteral("Edit Posting: Data = ") + data);
    SendJavaRequest(QStringLiteral("edit_posting"), data);
}

void PostingClient::DisconnectPosting() {
    SendJavaRequest(QStringLiteral("stop_posting"), QString());
}

void PostingClient::CheckPosting() {
    SendJavaRequest(QStringLiteral("check_posting"), QString());
}

void PostingClient::SlowTimerTick() {
    try {
        AppState& s = App();
        // The check waits for the helper, and the station may begin to close meanwhile: a
        // closing station asks nothing more of it.
        const auto closing = [&s] {
            return s.AbortRequested == kTrue || s.ShutdownRequested == kTrue;
        };
        if (closing())
            return;
        if (IsOnline()) {
            CheckPosting();
            if (closing())
                return;
            const PostedValues now = CurrentValues();
            if (s.PostingActive == kFalse) {
                WriteLog(QStringLiteral(
                    "Software: Connecting to live posting system using BeaconServer."));
                ConnectPosting();
            } else if (s.PostingCheckOK == kFalse) {
                DisconnectPosting();
            } else if (!(now == lastPosted_)) {
                EditPosting();
            }
            lastPosted_ = now;
        } else if (s.PostingActive == kTrue) {
            DisconnectPosting();
        }
    } catch (const std::exception& e) {
        const QString text = LogDate() + QLatin1Char('-') + LogTime() +
                             QStringLiteral(" Slow Timer Error: ") +
                             QString::fromLocal8Bit(e.what());
        App().LastErrorText = text;
        WriteLog(text);
    }
}

void PostingClient::StartVisitorCheck() {
    SendJavaRequest(QStringLiteral("start_reflector"),
                    RelayParameterLine(QStringLiteral("/webcams/CheckVisitorStatus?id=")));
}

void PostingClient::StopVisitorCheck() {
    SendJavaRequest(QStringLiteral("stop_reflector"), QString());
}

void PostingClient::StartMovePolling() {
    SendJavaRequest(QStringLiteral("start_polling"),
                    RelayParameterLine(QStringLiteral("/webcams/MoveRouterProxy?id=")));
}

void PostingClient::StopMovePolling() {
    SendJavaRequest(QStringLiteral("stop_polling"), QString());
}

void PostingClient::tmrMovePoller_Timer() {
    if (App().PollingActive == kTrue)
        Timers().tmrMovePoller.stop();
    else
        StartMovePolling();
}

void PostingClient::ResumeWithNewHelper(std::function<bool()> relaySideOn) {
    AppState& s = App();
    s.PostingActive = kFalse;
    s.PostingCheckOK = kFalse;
    s.PollingActive = kFalse;
    s.ReflectorRunning = kFalse;
    resumeRelaySide_ = std::move(relaySideOn);
    resumeTimer_.start();
}

void PostingClient::tmrCheckVisitor_Timer() {
    if (App().ReflectorRunning == kTrue)
        Timers().tmrCheckVisitor.stop();
    else
        StartVisitorCheck();
}

} // namespace kestrova
