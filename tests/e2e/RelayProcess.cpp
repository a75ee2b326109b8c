#include "RelayProcess.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>

namespace kestrova::test {

namespace {

// The port of the relay's start line; 0 while it has not come.
quint16 StartLinePort(const QByteArray& output) {
    static const QRegularExpression line(QStringLiteral("listening on \\S+ port (\\d+),"));
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(output));
    return match.hasMatch() ? static_cast<quint16>(match.captured(1).toUInt()) : 0;
}

} // namespace

RelayProcess::RelayProcess(QString folder, QStringList extraArguments)
    : folder_(std::move(folder)), extra_(std::move(extraArguments)) {}

RelayProcess::~RelayProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString RelayProcess::outputFile() const {
    return folder_ + QStringLiteral("/relay-%1.out").arg(starts_);
}

QByteArray RelayProcess::output() const {
    return ReadFile(outputFile());
}

QString RelayProcess::errors() const {
    return QString::fromUtf8(output());
}

bool RelayProcess::startOn(quint16 port) {
    ++starts_;
    // The relay logs to standard error: its output and its log go to one file.
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(outputFile());
    process_.start(QStringLiteral(KESTROVA_STATION_DIR "/reflector"),
                   QStringList{QStringLiteral("--port"), QString::number(port),
                               QStringLiteral("--data"), dataFolder()} +
                       extra_);
    if (!process_.waitForStarted(5000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        // Waits for the relay's end, and meanwhile for its start line.
        if (process_.waitForFinished(50))
            return false;
        const quint16 listening = StartLinePort(output());
        if (listening != 0) {
            port_ = listening;
            return true;
        }
    }
    return false;
}

bool RelayProcess::start() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const auto port = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32768));
        if (startOn(port))
            return true;
        if (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 1)
            return false;
    }
    return false;
}

void RelayProcess::stop() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    process_.waitForFinished(10000);
}

QByteArray HttpExchange(quint16 port, const QByteArray& path, const QByteArray* body,
                        const QByteArray& contentType) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    const QByteArray head = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                            "Authorization: Bearer " +
                            QByteArray(kStationKey) + "\r\n";
    if (body == nullptr) {
        socket.write("GET " + path + head + "\r\n");
    } else {
        socket.write("POST " + path + head + "Content-Type: " + contentType +
                     "\r\nContent-Length: " + QByteArray::number(body->size()) + "\r\n\r\n" +
                     *body);
    }
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer;
}

QByteArray FrameUploadBody(const QByteArray& id, const QByteArray& jpeg, QByteArray& contentType) {
    const QByteArray boundary = "Qm8xT3zV9kL2pR7sW4nY6bC1dF5gH0jA";
    contentType = "multipart/form-data; boundary=" + boundary;
    const auto field = [&boundary](const QByteArray& name, const QByteArray& value) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
               "\"\r\n\r\n" + value + "\r\n";
    };
    return field("id", id) + field("path", "webcams") + "--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"frame\"; filename=\"frame.jpg\"\r\n"
           "Content-Type: image/jpeg\r\n\r\n" +
           jpeg + "\r\n--" + boundary + "--\r\n";
}

QList<QJsonObject> RunBrowserScript(const QStringList& arguments, int ms, QString& errors) {
    QProcess node;
    node.setWorkingDirectory(QStringLiteral(KESTROVA_BROWSER_DIR));
    node.start(QStringLiteral("node"), arguments);
    if (!node.waitForStarted(5000)) {
        errors = QStringLiteral("node cannot be started (scripts/install-deps.sh installs it)");
        return {};
    }
    if (!node.waitForFinished(ms)) {
        node.kill();
        node.waitForFinished(5000);
        errors = QStringLiteral("the browser script took longer than %1 ms\n").arg(ms) +
                 QString::fromUtf8(node.readAllStandardError());
        return {};
    }
    errors = QString::fromUtf8(node.readAllStandardError());
    QList<QJsonObject> events;
    for (const QByteArray& line : node.readAllStandardOutput().split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            events.append(document.object());
    }
    if (node.exitStatus() != QProcess::NormalExit || node.exitCode() != 0)
        return {};
    return events;
}

} // namespace kestrova::test
