// The posting helper's process: started by the station, watched while the station runs, and
// started again when it ends without having been told to.
//
// The helper is a process of its own that the station ends only through "shutdown". It is
// spawned as the station's child in a session of its own (so a terminal's Ctrl+C reaches the
// station alone, which then shuts the helper down), and its end is seen through a pidfd: the
// station is woken when it ends, can read its exit status, and collects it. The station never
// signals it. A helper that ends while the station runs (killed, or told "shutdown" by another
// program) is started again with the same command line and environment, after 2 s, doubled for
// each helper that ends soon after its start, up to 60 s.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kestrova {

// What the helper is started with.
struct HelperLaunch {
    QString program;
    QStringList arguments;
    QString workingDirectory;
    QStringList environment; // "NAME=value" entries: the whole environment of the helper
};

// When an ended helper is started again.
struct HelperRestartDelays {
    int firstMs = 2000;   // the wait before a restart
    int maxMs = 60000;    // the longest wait, for a helper that keeps ending soon after its start
    int steadyMs = 60000; // a helper that ran this long ended on its own: the wait starts again
};

class HelperProcess {
  public:
    HelperProcess();
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Starts the helper and watches it. False, with the reason in `error`, when the process
    // cannot be started.
    bool Start(const HelperLaunch& launch, QString* error);

    // From now on the helper's end is expected (the station sends it "shutdown", or is closing):
    // nothing is started again.
    void StopWatching();
    // The station is ending: the helper's end is neither waited for nor logged any more (one
    // that has ended is collected; one that runs goes on without the station).
    void Release();

    // Runs after each restart, once the new helper process exists.
    void setOnRestarted(std::function<void()> handler) { onRestarted_ = std::move(handler); }
    void setRestartDelays(const HelperRestartDelays& delays) { delays_ = delays; }

    // The process id of the helper started last; 0 before the first start.
    qint64 pid() const { return pid_; }

  private:
    bool Spawn(QString* error);
    void Watch();
    void OnEnded();
    void Restart();
    void ForgetProcess();

    HelperLaunch launch_;
    HelperRestartDelays delays_;
    std::function<void()> onRestarted_;
    bool watching_ = false;
    qint64 pid_ = 0;
    bool uncollected_ = false; // pid_ is a child of the station that has not been collected
    int pidfd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    // Used where no pidfd can be had: the end is looked for every half second.
    QTimer pollTimer_;
    QTimer restartTimer_;
    QElapsedTimer running_;
    int nextDelayMs_ = 0;
};

} // namespace kestrova
