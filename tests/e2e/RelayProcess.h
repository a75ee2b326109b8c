#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

namespace kestrova::test {

// The relay program run as a process of its own, its data and its output in `folder`.
class RelayProcess {
  public:
    explicit RelayProcess(QString folder, QStringList extraArguments = {});
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // Starts it on a free port that the station can use (below 32768): a port is drawn, and
    // another one when the relay cannot listen on it. False when it does not start.
    bool start();
    // Starts it on `port` and waits for its start line ("reflector: listening on HOST port N,
    // ..."); false when it ended instead (exit code 1: it could not listen on the port).
    bool startOn(quint16 port);
    // SIGTERM, and waits for the end.
    void stop();

    quint16 port() const { return port_; }
    QString dataFolder() const { return folder_ + QStringLiteral("/relay"); }
    // What it wrote: its log (standard error) and any output.
    QString outputFile() const;
    QByteArray output() const;
    QString errors() const;
    QProcess& process() { return process_; }

  private:
    QString folder_;
    QStringList extra_;
    QProcess process_;
    quint16 port_ = 0;
    int starts_ = 0;
};

// The station key the tests' own requests carry.
constexpr const char* kStationKey = "E2e-test-station-key_0123456789abcdefghijkl";

// One request to the relay on 127.0.0.1 (a GET when `body` is null, else a form POST), with the
// station key; the whole answer, or nothing.
QByteArray HttpExchange(quint16 port, const QByteArray& path, const QByteArray* body = nullptr,
                        const QByteArray& contentType = "application/x-www-form-urlencoded");

// The multipart body and its Content-Type of a frame upload as the station sends it.
QByteArray FrameUploadBody(const QByteArray& id, const QByteArray& jpeg, QByteArray& contentType);

// Runs a script of tests/e2e/browser with node; its standard output (one JSON object a line),
// or an empty list when it failed, with the reason in `errors`. At most `ms`.
QList<QJsonObject> RunBrowserScript(const QStringList& arguments, int ms, QString& errors);

} // namespace kestrova::test
