// Helpers shared by the station's tests.
#pragma once

#include "core/StationState.h"
#include "support/RefusingPort.h"

#include <QByteArray>
#include <QImage>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace kestrova::test {

// Sets an environment variable for the lifetime of the object (unsets it for a null value).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void set(const QByteArray& value);

  private:
    const char* name_;
    QByteArray old_;
    bool hadOld_;
};

// Watches for windows of one object name while the event loop runs (also inside a modal
// dialog's loop): each one seen is counted and handed once to the action, which may answer and
// close it.
class WindowWatch {
  public:
    WindowWatch(const QString& objectName, std::function<void(QWidget*)> action);
    int seen() const { return static_cast<int>(handled_.size()); }

  private:
    QString objectName_;
    std::function<void(QWidget*)> action_;
    std::vector<QPointer<QWidget>> handled_;
    QTimer timer_;
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

// Mean absolute difference per channel of two images over the part of the first that, shifted
// by (dx, dy), lies on the second.
double MeanDifference(const QImage& first, const QImage& second, int dx = 0, int dy = 0);

// How far the content of `original` has moved in `moved` (positive: right and down), found as
// the shift that makes the two agree best: first along x, then along y, within +-limit pixels.
std::pair<int, int> BestShift(const QImage& original, const QImage& moved, int limit);

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
