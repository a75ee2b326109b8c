// What the pan-tilt-zoom tests share: a fresh station state with its data folder, a program
// folder holding the real libpantilt.so and a stand-in for the camera motion library, a fake
// hidraw tree with the pantilt motor unit, a capture control and the PtzControl under test.
#pragma once

#include "camera/CaptureControl.h"
#include "core/AppState.h"
#include "ptz/Ptz.h"
#include "support/TestSupport.h"
#include "support/fake_hidraw.h"

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrova::test {

enum class BackEnd { None, MotionLibrary, CameraControl, Pantilt };

// One call the motion library stand-in received, with the monotonic time it came at.
struct LvCall {
    QString call;
    long long atMs = 0;
};

// A pantilt report written to the unit: positions and command.
struct PantiltReport {
    int x = -1;
    int y = -1;
    int z = -1;
    int command = -1;
};
std::vector<PantiltReport> PantiltReports(const std::vector<std::uint8_t>& written);

class PtzTest : public ::testing::Test {
  protected:
    PtzTest();
    ~PtzTest() override;

    // Sets the camera flags of a back-end and reads the motor ranges (the classification's
    // result without a device name); `connect` also connects its motor library.
    void useBackEnd(BackEnd backEnd, bool connect = false);
    // Connects the capture control to a virtual camera of this name.
    void connectCamera(const QByteArray& name);

    // The motion library stand-in, loaded as the station loads it.
    std::vector<LvCall> lvCalls();
    QStringList lvCallNames();
    void setLvResults(std::int32_t connect, std::int32_t home, std::int32_t move);

    QStringList log() const { return LogMessages(dataFolder_); }
    // The " Process Packet Error: " lines of the log.
    QStringList packetErrors() const;

    std::int32_t cameraValue(CameraProperty property);
    std::vector<PantiltReport> reports() const { return PantiltReports(tree_.Written(0)); }
    // What a back-end was told since mark(): the motion library's calls, the pantilt unit's
    // reports as "x,y,z", the camera's "pan,tilt,zoom" now; each separated by a blank.
    void mark();
    QString moves(BackEnd backEnd);

    StationFixture station_;
    pantilt::test::FakeHidrawTree tree_;
    QString dataFolder_;
    QString programFolder_;
    std::unique_ptr<ScopedEnv> cameras_;
    CaptureControl camSrc_;
    std::unique_ptr<PtzControl> ptz_;
    QLibrary lvcam_;
    std::size_t lvMark_ = 0;
    std::size_t reportMark_ = 0;
};

} // namespace kestrova::test
