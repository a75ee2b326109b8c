// The viewer side in a real browser: the relay, the posting helper and a headless station with
// a virtual pan-tilt camera, watched and steered from headless Chromium.
#include "RelayProcess.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kestrova;

namespace {

using test::RelayProcess;
using test::StationProcess;
using test::WaitFor;

// The first event of that name, or an empty object.
QJsonObject Event(const QList<QJsonObject>& events, const char* name) {
    for (const QJsonObject& e : events) {
        if (e.value(QStringLiteral("event")).toString() == QLatin1String(name))
            return e;
    }
    return {};
}

QByteArray Jpeg(Qt::GlobalColor colour) {
    QImage image(320, 240, QImage::Format_RGB888);
    image.fill(colour);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return jpeg;
}

TEST(Browser, TheCameraPageShowsThePictureAtOnceAndPanLeftPansTheCamera) {
    StationProcess run(QStringLiteral("Creative WebCam Live! Motion"));
    RelayProcess relay(run.tempPath());
    ASSERT_TRUE(relay.start()) << relay.errors().toStdString();
    run.program().useDirectory(relay.port(), QStringLiteral("browser-cam"));
    run.useRealHelper();
    ASSERT_NE(run.useFreeCommandPort(), 0);
    QProcess& station = run.start();
    const QString helperLog = run.dataFolder() + QStringLiteral("/BeaconServer.log");
    ASSERT_TRUE(WaitFor(
        [&] {
            return QFile::exists(relay.dataFolder() + QStringLiteral("/frames/browser-cam.jpg")) &&
                   test::ReadFile(helperLog).contains("Polling: started");
        },
        30000))
        << run.errors(station).toStdString();

    // The address the station's "View Camera Webpage" button opens.
    const QString page = QStringLiteral("http://127.0.0.1:%1/webcams/index.jsp?id=browser-cam"
                                        "&path=webcams&type=1&gads=1&ptz=true&browser=MOZILLA"
                                        "&name=Browser%20Cam")
                             .arg(relay.port());
    QString errors;
    const QList<QJsonObject> events = test::RunBrowserScript(
        {QStringLiteral("camera-page.js"), QStringLiteral("pan"), page}, 90000, errors);
    ASSERT_FALSE(Event(events, "done").isEmpty()) << errors.toStdString();
    const int firstPicture = Event(events, "picture").value(QStringLiteral("ms")).toInt();
    EXPECT_LT(firstPicture, 2000) << "the latest stored picture shows at once";
    EXPECT_EQ(Event(events, "command").value(QStringLiteral("status")).toInt(), 204);
    const QJsonObject panned = Event(events, "panned");
    EXPECT_GE(std::abs(panned.value(QStringLiteral("dx")).toInt()), 8);
    std::printf("first picture %d ms, fresh picture %d ms after opening; the pan showed %d ms "
                "after the click (%d px)\n",
                firstPicture, Event(events, "changed").value(QStringLiteral("ms")).toInt(),
                panned.value(QStringLiteral("ms")).toInt(),
                panned.value(QStringLiteral("dx")).toInt());

    ASSERT_TRUE(StationProcess::terminate(station, 30000)) << run.errors(station).toStdString();
    EXPECT_EQ(station.exitCode(), 0);
}

TEST(Browser, AProtectedCameraAsksForItsPasswordThenShowsItsPictureAndArchive) {
    QTemporaryDir folder;
    RelayProcess relay(folder.path());
    ASSERT_TRUE(relay.start()) << relay.errors().toStdString();
    const quint16 port = relay.port();
    ASSERT_TRUE(test::HttpExchange(port, "/webcams/Register?id=locked-cam&path=webcams&ptz=false")
                    .contains("User Registered Successfully."));
    const QByteArray options =
        "id=locked-cam&path=webcams&zoom=false&snapshot=true&chat=false&secure=true"
        "&password=open%20sesame&ptz=false&presets=false&archive=true&chatID=Room:0";
    ASSERT_TRUE(test::HttpExchange(port, "/webcams/SyncWebcams", &options)
                    .contains("Settings written successfully."));
    QByteArray type;
    const QByteArray live = test::FrameUploadBody("locked-cam", Jpeg(Qt::darkGreen), type);
    ASSERT_TRUE(test::HttpExchange(port, "/webcams/Reflector", &live, type).contains("true"));
    for (Qt::GlobalColor colour : {Qt::darkBlue, Qt::darkRed}) {
        const QByteArray archived = test::FrameUploadBody("locked-cam", Jpeg(colour), type);
        ASSERT_TRUE(test::HttpExchange(port, "/webcams/Archive", &archived, type)
                        .contains("Archive: true"));
    }

    QString errors;
    const QList<QJsonObject> events = test::RunBrowserScript(
        {QStringLiteral("camera-page.js"), QStringLiteral("password"),
         QStringLiteral("http://127.0.0.1:%1/webcams/index.jsp?id=locked-cam").arg(port),
         QStringLiteral("open sesame")},
        60000, errors);
    ASSERT_FALSE(Event(events, "done").isEmpty()) << errors.toStdString();
    EXPECT_EQ(Event(events, "wrong").value(QStringLiteral("says")).toString(),
              QStringLiteral("Wrong password."));
    EXPECT_FALSE(Event(events, "picture").isEmpty());
    const QJsonObject archive = Event(events, "archive");
    EXPECT_EQ(archive.value(QStringLiteral("days")).toInt(), 1);
    EXPECT_EQ(archive.value(QStringLiteral("frames")).toInt(), 2);
    const QJsonObject frame = Event(events, "frame");
    EXPECT_EQ(frame.value(QStringLiteral("status")).toInt(), 200);
    EXPECT_EQ(frame.value(QStringLiteral("type")).toString(), QStringLiteral("image/jpeg"));
}

} // namespace
