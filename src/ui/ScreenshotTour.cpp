#include "ui/ScreenshotTour.h"

#include "camera/CameraPreview.h"
#include "core/Controls.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

namespace kestrova {

namespace {

// Time for the windows to lay out and for the live picture to move on between photographs.
constexpr int kSettleMs = 400;
// The longest the tour waits for the camera's first picture.
constexpr int kPictureWaitMs = 10000;

void Press(QWidget* window, const char* name) {
    if (auto* button = window->findChild<QAbstractButton*>(QLatin1String(name)))
        button->click();
}

} // namespace

ScreenshotTour::ScreenshotTour(const QString& folder, MainWindow& window)
    : folder_(folder), window_(&window) {
    QDir().mkpath(folder_);
    watch_.setInterval(50);
    connect(&watch_, &QTimer::timeout, this, [this] { WatchWindows(); });
}

void ScreenshotTour::Save(QWidget* widget, const QString& name) {
    if (!widget)
        return;
    QApplication::processEvents();
    const QString file = folder_ + QLatin1Char('/') + name + QStringLiteral(".png");
    const bool saved = widget->grab().save(file);
    std::fprintf(stderr, "Kestrova screenshots: %s %s\n", qPrintable(file),
                 saved ? "written" : "NOT WRITTEN");
}

void ScreenshotTour::Then(int delayMs, std::function<void()> step) {
    steps_.emplace_back(delayMs, std::move(step));
    if (!running_)
        Next();
}

void ScreenshotTour::Next() {
    if (steps_.empty()) {
        running_ = false;
        return;
    }
    running_ = true;
    auto [delay, step] = std::move(steps_.front());
    steps_.pop_front();
    QTimer::singleShot(delay, this, [this, step = std::move(step)] {
        step();
        Next();
    });
}

void ScreenshotTour::WatchStartup() {
    watch_.start();
}

// The start-up's windows: each is photographed once; the chooser is closed with its first
// camera, the wizard walked through with its defaults.
void ScreenshotTour::WatchWindows() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        const QString name = w->objectName();
        if (name == QLatin1String("frmSplash") && !splash_) {
            splash_ = w;
            Save(w, QStringLiteral("splash"));
        } else if (name == QLatin1String("frmCamWizard") && !chooser_) {
            chooser_ = w;
            Then(1500, [this] { Save(chooser_, QStringLiteral("camera-chooser")); });
            Then(0, [this] {
                if (chooser_)
                    chooser_->close();
            });
        } else if (name == QLatin1String("frmWizard") && !wizard_) {
            wizard_ = w;
            const char* pages[] = {"wizard-1-welcome", "wizard-2-details", "wizard-3-complete"};
            for (const char* page : pages) {
                Then(kSettleMs, [this, page] { Save(wizard_, QLatin1String(page)); });
                Then(0, [this] {
                    if (!wizard_)
                        return;
                    auto* next = wizard_->findChild<QAbstractButton*>(QStringLiteral("cmdNext"));
                    Press(wizard_, next && next->isEnabled() ? "cmdNext" : "cmdFinish");
                });
            }
        }
    }
}

void ScreenshotTour::Run(std::function<void()> finished) {
    watch_.stop();
    Controls& ui = Ui();
    MainWindow* window = window_;
    // The camera view, once the live picture shows.
    Then(0, [&ui] { ui.MenuBar.ButtonClick(ui.MenuBar.Buttons[0]); });
    Then(kSettleMs, [window] {
        QElapsedTimer clock;
        clock.start();
        auto* preview = window ? window->findChild<CameraPreview*>() : nullptr;
        while (preview && !preview->showsPicture() && clock.elapsed() < kPictureWaitMs)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    });
    Then(1500, [this] { Save(window_, QStringLiteral("main-camera")); });
    Then(0, [&ui] { ui.MenuBar.ButtonClick(ui.MenuBar.Buttons[0]); });
    Then(kSettleMs, [this] { Save(window_, QStringLiteral("main-settings")); });
    Then(0, [&ui] { ui.butSettings.click(); });
    Then(kSettleMs, [this] { Save(window_, QStringLiteral("tab-broadcast")); });
    Then(0, [&ui] { ui.butCamera.click(); });
    Then(kSettleMs, [this] { Save(window_, QStringLiteral("tab-camera")); });
    Then(0, [&ui] { ui.butOptions.click(); });
    const char* subTabs[] = {"tab-options-skin", "tab-options-password", "tab-options-presets",
                             "tab-options-chat"};
    for (int i = 0; i < 4; ++i) {
        Then(0, [&ui, i] { ui.Settings[2].set(i); });
        Then(kSettleMs, [this, name = subTabs[i]] { Save(window_, QLatin1String(name)); });
    }
    Then(0, [&ui] { ui.butMobile.click(); });
    Then(kSettleMs, [this] { Save(window_, QStringLiteral("tab-archive")); });
    Then(0, [finished = std::move(finished)] { finished(); });
}

} // namespace kestrova
