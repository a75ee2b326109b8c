#include "ui/MainWindow.h"
#include "app/Station.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>

#include <gtest/gtest.h>

using namespace kestrova;

namespace {
// Counts windows that are shown while it lives.
class WindowShows : public QObject {
  public:
    WindowShows() { qApp->installEventFilter(this); }
    ~WindowShows() override { qApp->removeEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && object->isWidgetType() &&
            static_cast<QWidget*>(object)->isWindow())
            ++count;
        return false;
    }
};
} // namespace

TEST(MainWindow, BuildingItOpensNoStrayWindowsAndItMirrorsTheControls) {
    test::StationFixture fixture;
    Station station({});
    WindowShows shows;
    MainWindow window(station);
    EXPECT_EQ(shows.count, 0);

    Ui().cboArchive.items = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    Ui().cboArchive.set(2);
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("cboArchive"));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentIndex(), 2);
    combo->setCurrentIndex(0); // the user picks another rate
    EXPECT_EQ(Ui().cboArchive.value(), 0);

    Ui().sldFocus.setRange(10, 50);
    Ui().sldFocus.set(30);
    auto* zoom = window.findChild<QSlider*>(QStringLiteral("sldFocus"));
    ASSERT_NE(zoom, nullptr);
    EXPECT_EQ(zoom->minimum(), 10);
    EXPECT_EQ(zoom->maximum(), 50);
    EXPECT_EQ(zoom->value(), 30);

    Ui().lblReflectorStatus.set(QStringLiteral("Reflector service active..."));
    auto* status = window.findChild<QLabel*>(QStringLiteral("lblReflectorStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), QStringLiteral("Reflector service active..."));

    Ui().cmdDebug.setVisible(true);
    Ui().butSettings.click(); // the debug button sits on the Broadcast panel
    window.show();
    EXPECT_TRUE(window.findChild<QWidget*>(QStringLiteral("cmdDebug"))->isVisible());
    Ui().cmdDebug.setVisible(false);
    EXPECT_FALSE(window.findChild<QWidget*>(QStringLiteral("cmdDebug"))->isVisible());
}

TEST(MainWindow, ClosingRunsTheCloseCheckAndTheUnload) {
    test::StationFixture fixture;
    Station station({});
    QSignalSpy terminated(&station, &Station::terminated);
    MainWindow window(station);
    window.show();
    App().WebRequestDone = kTrue;
    App().UploadReady = kFalse; // an upload is in flight

    EXPECT_FALSE(window.close());
    EXPECT_FALSE(station.unloaded());
    EXPECT_TRUE(window.isVisible());

    App().UploadReady = kTrue;
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(station.unloaded());
    EXPECT_EQ(terminated.count(), 1);
}
