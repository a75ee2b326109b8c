#include "ServiceFixture.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTimer>

namespace kestrova::test {

void ServiceTest::SetUp() {
    dataFolder_ = fixture_.useDataFolder();
    CreateEventLog();
    AppState& s = App();
    // As start-up leaves them before the relay starts.
    s.WebRequestDone = kTrue;
    s.UploadReady = kTrue;
    s.CameraId.assign(QStringLiteral("cam-01_Test"));
    s.StationKey = kTestStationKey;
    service_.web.setTimeouts(WebRequestTimeouts{3000, 3000, 5000});
    service_.uploader.setTimeouts(UploadTimeouts{3000, 5000});
    QObject::connect(&Timers().tmrWatchdog, &QTimer::timeout,
                     [this] { service_.uploader.WatchdogTick(); });
    qputenv("KESTROVA_CONFIG", deploymentPath().toLocal8Bit());
}

void ServiceTest::TearDown() {
    qunsetenv("KESTROVA_CONFIG");
}

QString ServiceTest::deploymentPath() const {
    return fixture_.tempPath() + QStringLiteral("/deployment.conf");
}

void ServiceTest::WriteDeployment(std::uint16_t mainPort, const QString& cameraId,
                                  const QString& supportEmail) {
    const QString text = QStringLiteral("[service]\nMainHost=127.0.0.1\nMainPort=%1\n"
                                        "SecondaryHost=127.0.0.1:%1\nSupportEmail=%2\n\n"
                                        "[station]\nCameraId=%3\n")
                             .arg(mainPort)
                             .arg(supportEmail, cameraId);
    WriteFile(deploymentPath(), text.toUtf8());
}

bool ServiceTest::logHas(const QString& text) const {
    return logCount(text) > 0;
}

int ServiceTest::logCount(const QString& text) const {
    int n = 0;
    for (const QString& line : log()) {
        if (line.endsWith(text))
            ++n;
    }
    return n;
}

QByteArray MakeJpeg(int shade) {
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(20 + shade % 200, 80, 160));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawRect(10 + shade % 100, 10, 100, 60);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 75);
    return bytes;
}

} // namespace kestrova::test
