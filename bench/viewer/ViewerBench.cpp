// A viewer's click in a real browser, through the relay, the posting helper and the station:
// - to the motor call: the time from the click on "Pan left" / "Pan right" on the camera page
//   (headless Chromium) until the station writes the motor's report (a pan-tilt base on a fake
//   hidraw node), 20 clicks;
// - to the picture: the time from the click until the page shows a picture in which the virtual
//   camera has panned, 20 clicks.
// Usage: viewer_bench [CLICKS]
#include "RelayProcess.h"
#include "support/TestSupport.h"
#include "support/fake_hidraw.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace kestrova;

namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void PrintFigures(const char* what, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%s: no figures\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s over %zu clicks: median %.0f ms, 90th percentile %.0f ms, fastest %.0f ms, "
                "slowest %.0f ms\n",
                what, ms.size(), ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.front(), ms.back());
}

// Reads the script's JSON lines as they come; an empty object when it ended or `ms` passed.
QJsonObject NextEvent(QProcess& node, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!node.canReadLine()) {
        if (node.state() == QProcess::NotRunning || std::chrono::steady_clock::now() >= end)
            return {};
        node.waitForReadyRead(50);
    }
    return QJsonDocument::fromJson(node.readLine()).object();
}

QString PageOf(quint16 port, const char* camera) {
    return QStringLiteral("http://127.0.0.1:%1/webcams/index.jsp?id=%2&path=webcams&ptz=true")
        .arg(port)
        .arg(QLatin1String(camera));
}

// The station up with its helper polling the relay's move queue; false when it did not come.
bool StartStation(test::StationProcess& run, test::RelayProcess& relay, const char* camera,
                  QProcess*& station) {
    if (!relay.start())
        return false;
    run.program().useDirectory(relay.port(), QLatin1String(camera));
    run.useRealHelper();
    run.useFreeCommandPort();
    station = &run.start();
    const QString frame = relay.dataFolder() + QStringLiteral("/frames/%1.jpg").arg(camera);
    return test::WaitFor(
        [&] {
            return QFileInfo::exists(frame) &&
                   test::ReadFile(run.dataFolder() + QStringLiteral("/BeaconServer.log"))
                       .contains("Polling: started");
        },
        30000);
}

void ClickToMotor(int clicks) {
    pantilt::test::FakeHidrawTree tree;
    tree.AddMotor(0);
    test::StationProcess run(QStringLiteral("3 Axis (Webcam)"));
    for (const char* root : {"PANTILT_SYSFS_ROOT", "PANTILT_DEV_ROOT"})
        run.setEnvironment(QLatin1String(root), qEnvironmentVariable(root));
    test::RelayProcess relay(run.tempPath());
    QProcess* station = nullptr;
    if (!StartStation(run, relay, "bench-base", station)) {
        std::printf("click to motor: the station did not start\n");
        return;
    }
    QProcess node;
    node.setWorkingDirectory(QStringLiteral(KESTROVA_BROWSER_DIR));
    node.start(QStringLiteral("node"),
               {QStringLiteral("bench.js"), QStringLiteral("clicks"),
                PageOf(relay.port(), "bench-base"), QString::number(clicks)});
    if (NextEvent(node, 30000).value(QStringLiteral("event")).toString() != "ready") {
        std::printf("click to motor: the page did not load: %s\n",
                    node.readAllStandardError().constData());
        return;
    }
    const std::string nodePath = tree.NodePath(0);
    std::vector<double> latencies;
    for (int i = 0; i < clicks; ++i) {
        const auto before = static_cast<qint64>(tree.Written(0).size());
        node.write("go\n");
        node.waitForBytesWritten(1000);
        // The report's arrival, seen by the node's size growing.
        double written = 0;
        const double giveUp = NowMs() + 10000;
        while (written == 0 && NowMs() < giveUp) {
            if (QFileInfo(QString::fromStdString(nodePath)).size() > before)
                written = NowMs();
            else
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const QJsonObject clicked = NextEvent(node, 10000);
        if (written == 0 || clicked.isEmpty()) {
            std::printf("click to motor: click %d did not reach the motor\n", i + 1);
            break;
        }
        latencies.push_back(written - clicked.value(QStringLiteral("at")).toDouble());
        // Three commands a second from one viewer at most.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    node.closeWriteChannel();
    node.waitForFinished(10000);
    PrintFigures("click to motor call", latencies);
    test::StationProcess::terminate(*station, 30000);
}

void ClickToPicture(int clicks) {
    test::StationProcess run(QStringLiteral("Creative WebCam Live! Motion"));
    test::RelayProcess relay(run.tempPath());
    QProcess* station = nullptr;
    if (!StartStation(run, relay, "bench-cam", station)) {
        std::printf("click to picture: the station did not start\n");
        return;
    }
    QProcess node;
    node.setWorkingDirectory(QStringLiteral(KESTROVA_BROWSER_DIR));
    node.start(QStringLiteral("node"),
               {QStringLiteral("bench.js"), QStringLiteral("frames"),
                PageOf(relay.port(), "bench-cam"), QString::number(clicks)});
    std::vector<double> latencies;
    for (;;) {
        const QJsonObject event = NextEvent(node, 30000);
        const QString name = event.value(QStringLiteral("event")).toString();
        if (name == "shown")
            latencies.push_back(event.value(QStringLiteral("ms")).toDouble());
        else if (name != "ready")
            break;
    }
    if (static_cast<int>(latencies.size()) < clicks)
        std::printf("click to picture: %s\n", node.readAllStandardError().constData());
    node.waitForFinished(10000);
    PrintFigures("click to the first picture showing the move", latencies);
    test::StationProcess::terminate(*station, 30000);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    const int clicks = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    ClickToMotor(clicks);
    ClickToPicture(clicks);
    return 0;
}
