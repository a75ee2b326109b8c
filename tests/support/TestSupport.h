// Helpers shared by the station's tests.
#pragma once

#include "core/StationState.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace kestrova::test {

// A TCP port on 127.0.0.1, below 32768 (the station keeps relay ports in 16 signed bits), that
// refuses connections for as long as the object lives: a socket is bound to the port but does
// not listen, so a connection to it is refused and nothing else can take the port meanwhile.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    // 0 when no port could be had.
    quint16 port() const { return port_; }
    // Lets go of the port, for a server of the test's to listen on it.
    void release();

  private:
    int fd_ = -1;
    quint16 port_ = 0;
};

// A fresh station state and a temporary data folder (XDG_DATA_HOME points into it) for one
// test. Dialogs are answered with their defaults and recorded. The posting helper's port is one
// that refuses connections, so that no posting helper that runs on the machine is disturbed.
class StationFixture {
  public:
    StationFixture();
    ~StationFixture();

    QString dataHome() const { return dir_.path() + QStringLiteral("/data"); }
    // The station's data folder Kestrova/Webcam_3_0 (created) and App().DataFolder set to it.
    QString useDataFolder();
    // Runs the station's code against a program folder the test laid out.
    void useProgramFolder(const QString& path) { state_.programFolder = path; }

    const std::vector<dialogs::Request>& dialogsShown() const { return dialogs_; }
    QString tempPath() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
    QByteArray oldDataHome_;
    QByteArray oldPostingPort_;
    RefusingPort postingPort_;
    StationState state_;
    std::vector<dialogs::Request> dialogs_;
};

QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);

// The log lines after the header, with their date and time cut off.
QStringList LogMessages(const QString& dataFolder);

// Waits, running events, until `done` is true; false when `ms` passed first. A safety net so
// that a broken station fails the test instead of hanging it; never a measure of speed.
bool WaitFor(const std::function<bool()>& done, int ms = 10000);

// A program folder laid out for a station run: kestrovaType.dat ("1"), the pictures and the
// motor libraries of the built program folder, a deployment.conf whose directory port refuses
// connections (for as long as a copy of the folder object lives), and a jre/bin/java that only
// writes its arguments to java-args.txt in the folder.
struct ProgramFolder {
    QString path;
    std::shared_ptr<RefusingPort> refusingPort;
    QString javaArgsFile() const { return path + QStringLiteral("/java-args.txt"); }
    bool javaLaunched() const;
    // Points the deployment at a directory on 127.0.0.1 and names the camera.
    void useDirectory(quint16 port, const QString& cameraId) const;
    // Puts the built posting helper and its Java runtime in place of the stand-in.
    void useRealHelper() const;
};
ProgramFolder MakeProgramFolder(const QString& parent, bool withTypeNumber = true);

// The station program run as a user's desktop would run it, headless and unattended, from a
// program folder laid out in a temporary folder with the built program copied into it, with
// a data folder of its own. Each start is a process of its own whose output goes to files;
// processes still running at the end are killed.
class StationProcess {
  public:
    // `cameras`: the virtual cameras the station sees.
    explicit StationProcess(const QString& cameras = QStringLiteral("Test Camera"));
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    const ProgramFolder& program() const { return program_; }
    // The port of this run's posting helper.
    quint16 postingPort() const { return postingPort_.port(); }
    QString dataFolder() const { return dataHome() + QStringLiteral("/Kestrova/Webcam_3_0"); }
    QString dataHome() const { return dir_.path() + QStringLiteral("/data"); }
    QString tempPath() const { return dir_.path(); }
    void setEnvironment(const QString& name, const QString& value);
    // Runs the built posting helper on this run's posting port.
    void useRealHelper();
    // Gives the station's command listener a free port (the listener's port is a setting kept
    // from the last run) and returns it.
    quint16 useFreeCommandPort();

    // Starts the program once more; the process lives as long as this object.
    QProcess& start(const QStringList& arguments = {});
    // What the process of that start wrote to standard error.
    QString errors(const QProcess& process) const;
    // Waits until the event log holds the line, or the last started process has ended.
    bool waitForLogLine(const QString& line, int ms) const;
    // Sends SIGTERM and waits for the end: true when the process ended by itself in time.
    static bool terminate(QProcess& process, int ms);

  private:
    QTemporaryDir dir_;
    ProgramFolder program_;
    RefusingPort postingPort_;
    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

} // namespace kestrova::test
