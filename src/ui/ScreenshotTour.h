// A developer's helper for the documentation: with KESTROVA_SCREENSHOTS=<folder> the program
// photographs its own windows into that folder as it starts (the splash, the camera chooser
// and the broadcast wizard's pages, which it walks through with their defaults), then shows
// the camera view, the settings area, every panel and every sub-tab of the Options panel,
// photographing each, and closes.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <utility>

class QWidget;

namespace kestrova {

class MainWindow;

class ScreenshotTour : public QObject {
    Q_OBJECT
  public:
    ScreenshotTour(const QString& folder, MainWindow& window);

    // Photographs the windows of the start-up as they show, from now on.
    void WatchStartup();
    // After start-up: the main window's views and panels; then `finished`.
    void Run(std::function<void()> finished);

  private:
    void Save(QWidget* widget, const QString& name);
    void Then(int delayMs, std::function<void()> step);
    void Next();
    void WatchWindows();

    QString folder_;
    QPointer<MainWindow> window_;
    QTimer watch_;
    QPointer<QWidget> splash_, chooser_, wizard_;
    std::deque<std::pair<int, std::function<void()>>> steps_;
    bool running_ = false;
};

} // namespace kestrova
