// The station's life: the start-up sequence that runs while the main window is loaded, the
// close check that winds everything down in stages, and the unload. The windows are reached
// only through hooks, so the whole sequence runs in tests without a window.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace kestrova {

struct WindowHooks {
    std::function<void()> showMainWindow;    // step 29
    std::function<void()> hideSplash;        // step 29
    std::function<void()> closeSplash;       // step 32
    std::function<void()> requestClose;      // asks the main window to close (close event)
    std::function<void()> closeOtherWindows; // unload, step 9
    std::function<void()> dismissDialogs;    // a close asked for during a start-up dialog
};

// The failure text of the start-up: names the most recent risky step.
void SetStartupFailureText(const QString& text);
QString StartupFailureText();

class Station : public QObject {
    Q_OBJECT
  public:
    // `arguments` is the command line after the program name.
    explicit Station(QStringList arguments, QObject* parent = nullptr);
    ~Station() override;

    void setHooks(WindowHooks hooks) { hooks_ = std::move(hooks); }

    // Runs the start-up sequence. Returns true when it reached its end; false when it ended
    // the program early (the close follows through InstallFinished).
    bool Load();

    // A request to close the main window: through the window when it has hooks, else the
    // close check and the unload directly.
    void RequestClose();

    // The close check: true lets the close go ahead; false cancels it and arms InstallFinished.
    bool CloseCheck();

    // Writes the settings, stops timers and sockets, closes windows, then emits terminated().
    void Unload();

    bool startupRunning() const { return startupRunning_; }
    bool unloaded() const { return unloaded_; }
    int exitCode() const { return exitCode_; }
    QString debugWord() const { return debugWord_; }

  signals:
    void terminated(int exitCode);

  private:
    void RunSequence();
    void FailStartup(const QString& description, int number, const QString& source);
    void LaunchPostingService();
    void ShutdownServer();

    QStringList arguments_;
    WindowHooks hooks_;
    QString debugWord_ = QStringLiteral("false");
    bool startupRunning_ = false;
    bool closePending_ = false;
    bool unloaded_ = false;
    int exitCode_ = 0;
    QElapsedTimer shutdownClock_;
};

} // namespace kestrova
