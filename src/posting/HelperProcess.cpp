#include "posting/HelperProcess.h"

#include "core/AppState.h"
#include "core/EventLog.h"

#include <QFile>
#include <QList>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova {

namespace {

// How often the end is looked for where the system gives no pidfd.
constexpr int kPollMs = 500;

QString Seconds(int ms) {
    return QString::number(ms / 1000.0, 'g', 4) + QStringLiteral(" s");
}

// The station's end of a process that may have ended: a pidfd, or -1 where the system has none.
int OpenPidFd(qint64 pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
    Q_UNUSED(pid);
    return -1;
#endif
}

QString DescribeEnd(int status) {
    if (WIFEXITED(status))
        return QStringLiteral("ended with exit code %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = ::sigabbrev_np(signal);
        return QStringLiteral("was ended by signal %1 (SIG%2)")
            .arg(signal)
            .arg(QLatin1String(name ? name : "?"));
    }
    return QStringLiteral("ended");
}

} // namespace

HelperProcess::HelperProcess() {
    restartTimer_.setSingleShot(true);
    QObject::connect(&restartTimer_, &QTimer::timeout, [this] { Restart(); });
    QObject::connect(&pollTimer_, &QTimer::timeout, [this] {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid != 0)
            OnEnded();
    });
}

HelperProcess::~HelperProcess() {
    Release();
}

bool HelperProcess::Start(const HelperLaunch& launch, QString* error) {
    launch_ = launch;
    nextDelayMs_ = 0;
    watching_ = Spawn(error);
    return watching_;
}

void HelperProcess::StopWatching() {
    watching_ = false;
    restartTimer_.stop();
}

void HelperProcess::Release() {
    StopWatching();
    if (uncollected_ && ::waitpid(static_cast<pid_t>(pid_), nullptr, WNOHANG) != 0)
        uncollected_ = false;
    notifier_.reset();
    ForgetProcess();
}

// Starts the process: the station's child in a session of its own, with standard input from
// /dev/null, every signal unblocked and the usual signals at their defaults.
bool HelperProcess::Spawn(QString* error) {
    const QByteArray program = QFile::encodeName(launch_.program);
    QList<QByteArray> strings;
    for (const QString& argument : launch_.arguments)
        strings << argument.toLocal8Bit();
    const qsizetype argumentCount = strings.size();
    for (const QString& entry : launch_.environment)
        strings << entry.toLocal8Bit();
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    std::vector<char*> envp;
    for (qsizetype i = 0; i < strings.size(); ++i)
        (i < argumentCount ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const QByteArray folder = QFile::encodeName(launch_.workingDirectory);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!folder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&signalSet, signal);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int result =
        ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(result));
        return false;
    }
    pid_ = pid;
    uncollected_ = true;
    running_.start();
    Watch();
    return true;
}

// The process is the station's child and is collected only here, so its pid cannot be taken
// by another process while the station watches it.
void HelperProcess::Watch() {
    pidfd_ = OpenPidFd(pid_);
    if (pidfd_ < 0) {
        pollTimer_.start(kPollMs);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pidfd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnEnded(); });
}

void HelperProcess::ForgetProcess() {
    pollTimer_.stop();
    if (notifier_) {
        // This may run inside the notifier's own signal.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
    pidfd_ = -1;
}

void HelperProcess::OnEnded() {
    int status = 0;
    const pid_t collected = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (collected == 0)
        return; // still running
    uncollected_ = false;
    const QString how = collected > 0 ? DescribeEnd(status) : QStringLiteral("ended");
    const qint64 ranMs = running_.elapsed();
    const qint64 pid = pid_;
    ForgetProcess();

    const AppState& s = App();
    const QString line = QStringLiteral("Posting helper (pid %1) %2 after %3")
                             .arg(pid)
                             .arg(how, Seconds(static_cast<int>(std::min<qint64>(ranMs, 1 << 30))));
    if (!watching_ || s.ShutdownRequested == kTrue || s.AbortRequested == kTrue) {
        WriteLog(line);
        return;
    }
    // A helper that ran a good while ended on its own; one that ends soon after its start would
    // end again at once: it waits longer each time.
    if (nextDelayMs_ == 0 || ranMs >= delays_.steadyMs)
        nextDelayMs_ = delays_.firstMs;
    else
        nextDelayMs_ = std::min(nextDelayMs_ * 2, delays_.maxMs);
    WriteLog(line + QStringLiteral("; starting it again in ") + Seconds(nextDelayMs_));
    restartTimer_.start(nextDelayMs_);
}

void HelperProcess::Restart() {
    const AppState& s = App();
    if (!watching_ || s.ShutdownRequested == kTrue || s.AbortRequested == kTrue)
        return;
    QString error;
    if (!Spawn(&error)) {
        nextDelayMs_ = std::min(std::max(nextDelayMs_, delays_.firstMs) * 2, delays_.maxMs);
        WriteLog(QStringLiteral("Posting helper: cannot start %1 (%2); trying again in %3")
                     .arg(launch_.program, error, Seconds(nextDelayMs_)));
        restartTimer_.start(nextDelayMs_);
        return;
    }
    WriteLog(QStringLiteral("Posting helper started again (pid %1)").arg(pid_));
    if (onRestarted_)
        onRestarted_();
}

} // namespace kestrova
