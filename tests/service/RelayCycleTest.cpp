// The relay side as start-up runs it: the look-up, the registration of a camera whose folder
// is missing, the first forced frame and the watchdog cycle, which goes on after the relay
// restarts on the same port. The watchdog ticks faster than the station's second here.
#include "FakeRelay.h"
#include "ServiceFixture.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "service/Reflector.h"
#include "service/Upload.h"

#include <QImage>

using namespace kestrova;
using namespace kestrova::test;

namespace {

class RelayCycleTest : public ServiceTest {};

// True when the request is a frame POST with a body as long as it says and a 320 x 240 JPEG.
bool IsFramePost(const QByteArray& request, const QByteArray& cameraId) {
    const qsizetype blank = request.indexOf("\r\n\r\n");
    const QByteArray headers = request.left(blank + 2);
    const QByteArray body = request.mid(blank + 4);
    if (!request.startsWith("POST /webcams/Reflector HTTP/1.1\r\n") ||
        !headers.contains("\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"))
        return false;
    const qsizetype at = headers.indexOf("boundary=") + 9;
    const QByteArray boundary = headers.mid(at, headers.indexOf("\r\n", at) - at);
    if (!body.contains("name=\"id\"\r\n\r\n" + cameraId + "\r\n--" + boundary + "\r\n") ||
        !body.endsWith("\r\n--" + boundary + "--\r\n"))
        return false;
    const qsizetype jpegStart = body.indexOf("Content-Type: image/jpeg\r\n\r\n") + 28;
    const qsizetype jpegEnd = body.lastIndexOf("\r\n--" + boundary + "--\r\n");
    const QImage image = QImage::fromData(body.mid(jpegStart, jpegEnd - jpegStart), "JPEG");
    return image.size() == QSize(320, 240);
}

} // namespace

TEST_F(RelayCycleTest, RegistersThenUploadsOnEveryTickAndGoesOnAfterARelayRestart) {
    // The cycle, not the length of its pause, is what is tested here.
    Timers().tmrWatchdog.setInterval(20);
    int folders = 0;
    FakeRelay relay;
    ASSERT_TRUE(relay.listen());
    const quint16 port = relay.port();
    relay.setHandler([&](const QByteArray& request) {
        const QByteArray path = RequestPath(request);
        if (path == "/getReflector.php")
            return FakeReply::Text(
                HttpAnswer("127.0.0.1\r\n" + QByteArray::number(port) + "\r\nwebcams\r\n"));
        if (path.startsWith("/webcams/CheckFolderExists?"))
            return FakeReply::Text(HttpAnswer(++folders == 1 ? "Exists: false" : "Exists: true"));
        if (path.startsWith("/webcams/Register?"))
            return FakeReply::Text(HttpAnswer("User Registered Successfully."));
        return FakeReply::Text(HttpAnswer("Reflector: true"));
    });
    WriteDeployment(port);
    service_.uploader.setFrameSource([](bool) { return MakeJpeg(); });

    // As at the end of start-up: the relay, then the first frame at once.
    service_.reflector.StartReflector();
    ASSERT_EQ(App().ReflectorActive, kTrue);
    service_.uploader.UploadImage(true);

    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() >= 7; }));
    const QList<QByteArray> before = relay.requests();
    EXPECT_EQ(RequestPath(before[0]), QByteArray("/getReflector.php"));
    EXPECT_TRUE(RequestPath(before[1]).startsWith("/webcams/CheckFolderExists?id=cam-01_Test&"));
    EXPECT_TRUE(RequestPath(before[2]).startsWith("/webcams/Register?id=cam-01_Test&"));
    EXPECT_EQ(RequestPath(before[3]), QByteArray("/webcams/SyncWebcams"));
    for (int i = 4; i < before.size(); ++i)
        EXPECT_TRUE(IsFramePost(before[i], "cam-01_Test")) << "request " << i;

    // The relay goes away: the ticks meet a refused connection and go on.
    relay.stop();
    ASSERT_TRUE(WaitFor(
        [&] { return logHas(QStringLiteral("ReflectorSocket Error - Connection refused")); }));
    EXPECT_EQ(App().UploadReady, kTrue);
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());

    // It comes back on the same port, and the frames arrive again.
    ASSERT_TRUE(relay.listen(port));
    const int seen = relay.completeRequests();
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() >= seen + 2; }));
    const QList<QByteArray> after = relay.requests();
    for (int i = seen; i < after.size(); ++i)
        EXPECT_TRUE(IsFramePost(after[i], "cam-01_Test")) << "request " << i;
    EXPECT_EQ(App().ReflectorActive, kTrue);
}
