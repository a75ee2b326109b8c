// The state of a started station for the relay client's tests: a data folder with its log,
// the flags that start-up sets before the relay starts, a camera identifier and its key, a
// deployment
// file of the test's own, a fresh service client with the watchdog tick connected, and short time
// bounds so that no test waits out the real ones.
#pragma once

#include "service/ServiceClient.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdint>

namespace kestrova::test {

// The station key of the tests' station, and its header line.
inline const QString kTestStationKey =
    QStringLiteral("AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA");
inline const QByteArray kTestKeyLine = "Authorization: Bearer " + kTestStationKey.toLatin1();

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the deployment file: directory at 127.0.0.1:`mainPort`, the support address and
    // the camera identifier given.
    void WriteDeployment(std::uint16_t mainPort, const QString& cameraId = QString(),
                         const QString& supportEmail = QStringLiteral("help@example.test"));
    QString deploymentPath() const;

    QStringList log() const { return LogMessages(dataFolder_); }
    // True when a log line ends with `text`.
    bool logHas(const QString& text) const;
    int logCount(const QString& text) const;

    StationFixture fixture_;
    // The station's side of the service, made fresh for each test.
    ServiceClient service_;
    QString dataFolder_;
};

// A 320 x 240 JPEG file's bytes, drawn with `shade` so that two frames can be told apart.
QByteArray MakeJpeg(int shade = 0);

} // namespace kestrova::test
