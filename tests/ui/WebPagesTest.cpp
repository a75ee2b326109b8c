// The web pages the station's buttons open, through the station's own handlers.
#include "UiTestSupport.h"

#include "app/Station.h"
#include "core/AppState.h"
#include "core/Controls.h"

#include <QUrl>
#include <QUrlQuery>

namespace kestrova::test {
namespace {

const QString kGuard =
    QStringLiteral("The reflector has not started. Please restart the software and try again.");

class WebPagesTest : public UiTest {
  protected:
    WebPagesTest() {
        logic_.reset(); // the station's own handlers instead
        station_ = std::make_unique<Station>(QStringList{});
        record(station_->windowLogic().hooks());
        AppState& s = App();
        s.ReflectorHost = QStringLiteral(" 10.0.0.5 ");
        s.ReflectorPort = 8081;
        s.TypeNumber = 3;
        s.Cam.CameraName = QStringLiteral("My Garden Cam");
        s.ReflectorRunning = kTrue;
        s.PostingActive = kTrue;
    }

    // Clicks every trigger of a page in the order: live, help, presets, skin, archive,
    // profile, settings picture.
    void clickEveryTrigger() {
        Controls& ui = Ui();
        ui.MenuBar2.ButtonClick(ui.MenuBar2.Buttons[0]);
        ui.MenuBar2.ButtonClick(ui.MenuBar2.Buttons[1]);
        ui.cmdPtuAdmin.click();
        ui.cmdSkin.click();
        ui.cmdViewArchive.click();
        ui.cmdSetProfile.click();
        ui.pctSettings.click();
    }

    std::unique_ptr<Station> station_;
};

struct CameraCase {
    const char* name;
    Flag ptz, logitech, pantilt;
    const char* viewer; // the viewer and archive pages' camera kind
    const char* admin;  // the management page's sphere and opticam
    const char* skin;   // the skin page's sphere and ptz
};

TEST_F(WebPagesTest, EveryButtonOpensItsPageForMotorisedAndPlainCameras) {
    const QString r = QStringLiteral("http://10.0.0.5:8081");
    const QString camera = QStringLiteral("id=cam-42&path=webcams");
    const QString named = QStringLiteral("&browser=MOZILLA&name=My%20Garden%20Cam");
    const CameraCase cases[] = {
        {"Logitech Orbit", kTrue, kTrue, kFalse, "&ptz=true", "sphere=True&gads=1&opticam=False",
         "sphere=True&skins=true&gads=1&ptz=true"},
        {"pan-tilt base", kTrue, kFalse, kTrue, "&ptz=true", "sphere=False&gads=1&opticam=True",
         "sphere=False&skins=true&gads=1&ptz=true"},
        {"plain webcam", kFalse, kFalse, kFalse, "&ptz=false", "sphere=False&gads=1&opticam=False",
         "sphere=False&skins=true&gads=1&ptz=false"},
    };
    for (const CameraCase& c : cases) {
        SCOPED_TRACE(c.name);
        App().IsPtzCamera = c.ptz;
        App().IsLogitechPtz = c.logitech;
        App().IsPantiltCamera = c.pantilt;
        opened_.clear();
        clickEveryTrigger();
        const QString kind = QLatin1String(c.viewer);
        EXPECT_EQ(
            opened_,
            (QStringList{
                r + "/webcams/index.jsp?" + camera + "&type=3&gads=1" + kind + named,
                QStringLiteral("http://main.example:8080/help/webcams/index.htm"),
                r + "/webcams/admin/index.jsp?" + camera + "&" + QLatin1String(c.admin),
                r + "/webcams/admin/index.jsp?" + camera + "&" + QLatin1String(c.skin),
                r + "/webcams/PassRequiredArchive?" + camera + "&type=3&gads=1" + kind + named,
                QStringLiteral("http://list.example:81/description.php?id=cam-42"),
                QStringLiteral("http://list.example:81/livelist.php"),
            }));
    }
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(WebPagesTest, BeforeTheReflectorRunsItsPagesAreRefusedButTheArchiveOpens) {
    AppState& s = App();
    s.ReflectorRunning = kFalse;
    s.ReflectorHost.clear();
    s.ReflectorPort = 0;
    s.PostingActive = kFalse; // the profile does nothing at all
    clickEveryTrigger();
    EXPECT_EQ(messages(), QStringList(3, kGuard));
    EXPECT_EQ(opened_,
              (QStringList{QStringLiteral("http://main.example:8080/help/webcams/index.htm"),
                           QStringLiteral("http://:0/webcams/PassRequiredArchive?id=cam-42&path="
                                          "webcams&type=3&gads=1&ptz=false&browser=MOZILLA&name="
                                          "My%20Garden%20Cam"),
                           QStringLiteral("http://list.example:81/livelist.php")}));
}

TEST_F(WebPagesTest, AToolbarButtonWithAnotherKeyDoesNothing) {
    ToolButton other;
    other.key = QStringLiteral("cam_sett");
    Ui().MenuBar2.ButtonClick(other);
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(WebPagesTest, ThePrimaryHostOnPort80CarriesNoPort) {
    writeDeployment(QStringLiteral("80"));
    Ui().MenuBar2.ButtonClick(Ui().MenuBar2.Buttons[1]);
    EXPECT_EQ(opened_, QStringList{QStringLiteral("http://main.example/help/webcams/index.htm")});
}

TEST_F(WebPagesTest, NoCameraNameCanBreakTheViewerAddress) {
    const QString names[] = {
        QStringLiteral("Bob's \"cam\" & friends"), QStringLiteral("Ωραία θέα #1 ?x=y"),
        QString(300, QChar(0x4E2D)), // 300 CJK characters: what fits of 256 bytes
    };
    for (const QString& name : names) {
        App().Cam.CameraName = name;
        opened_.clear();
        Ui().MenuBar2.ButtonClick(Ui().MenuBar2.Buttons[0]);
        ASSERT_EQ(opened_.size(), 1);
        const QUrl url(opened_[0], QUrl::StrictMode);
        ASSERT_TRUE(url.isValid()) << opened_[0].toStdString();
        const QUrlQuery query(url);
        EXPECT_EQ(query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded),
                  App().Cam.CameraName.trimmed());
        EXPECT_EQ(query.queryItemValue(QStringLiteral("id")), QStringLiteral("cam-42"));
        EXPECT_FALSE(query.hasQueryItem(QStringLiteral("x")));
        EXPECT_TRUE(url.fragment().isEmpty());
    }
    EXPECT_EQ(App().Cam.CameraName.trimmed(), QString(85, QChar(0x4E2D)));
}

} // namespace
} // namespace kestrova::test
