// The station program with the pantilt camera, run headless from a program folder of its own:
// a command sent to its listener reaches the motor unit of a fake hidraw tree.
#include "PtzFixture.h"

#include "support/fake_hidraw.h"

#include <QTcpSocket>

namespace kestrova::test {
namespace {

TEST(StationProgramTest, APanLeftPacketReachesTheMotorUnitOfAHeadlessStation) {
    pantilt::test::FakeHidrawTree tree;
    tree.AddMotor(0);
    StationProcess run(QStringLiteral("3 Axis (Webcam)"));
    run.setEnvironment(QStringLiteral("PANTILT_SYSFS_ROOT"),
                       qEnvironmentVariable("PANTILT_SYSFS_ROOT"));
    run.setEnvironment(QStringLiteral("PANTILT_DEV_ROOT"),
                       qEnvironmentVariable("PANTILT_DEV_ROOT"));

    const quint16 port = run.useFreeCommandPort();
    ASSERT_NE(0, port);

    QProcess& station = run.start();
    ASSERT_TRUE(run.waitForLogLine(QStringLiteral("Launching Software: Launching Kestrova"), 60000))
        << run.errors(station).toStdString();
    const QStringList lines = LogMessages(run.dataFolder());
    EXPECT_TRUE(lines.contains(QStringLiteral("Launching Software: Connected = True")));
    const std::size_t before = PantiltReports(tree.Written(0)).size();

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    client.write("pan_left");
    QByteArray answer;
    EXPECT_TRUE(WaitFor([&] {
        answer += client.readAll();
        return client.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_EQ("OK\r\n", answer + client.readAll());

    const std::vector<PantiltReport> reports = PantiltReports(tree.Written(0));
    ASSERT_EQ(before + 1, reports.size());
    EXPECT_EQ(95, reports.back().x);
    EXPECT_EQ(1, reports.back().command);

    ASSERT_TRUE(StationProcess::terminate(station, 60000));
    EXPECT_EQ(0, station.exitCode()) << run.errors(station).toStdString();
}

} // namespace
} // namespace kestrova::test
