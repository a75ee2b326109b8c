#include "PtzFixture.h"

#include "core/EventLog.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace kestrova::test {

std::vector<PantiltReport> PantiltReports(const std::vector<std::uint8_t>& written) {
    // The motor base of the fake tree has a 17-byte output report.
    constexpr std::size_t kLength = 17;
    std::vector<PantiltReport> reports;
    for (std::size_t at = 0; at + kLength <= written.size(); at += kLength) {
        const std::uint8_t* r = written.data() + at;
        reports.push_back(PantiltReport{r[1], r[2] | (r[3] << 8), r[4], r[15]});
    }
    return reports;
}

PtzTest::PtzTest()
    : dataFolder_(station_.useDataFolder()),
      programFolder_(station_.tempPath() + QStringLiteral("/program")),
      cameras_(std::make_unique<ScopedEnv>("KESTROVA_VIRTUAL_CAMERAS", QByteArray())) {
    CreateEventLog();
    tree_.AddMotor(0);
    QDir().mkpath(programFolder_);
    QFile::link(QStringLiteral(KESTROVA_STATION_DIR "/libpantilt.so"),
                programFolder_ + QStringLiteral("/libpantilt.so"));
    QFile::link(QStringLiteral(FAKE_LVCAM_PATH),
                programFolder_ + QStringLiteral("/libKestrovaLVCam.so"));
    station_.useProgramFolder(programFolder_);
    ptz_ = std::make_unique<PtzControl>(camSrc_);
    lvcam_.setFileName(programFolder_ + QStringLiteral("/libKestrovaLVCam.so"));
}

PtzTest::~PtzTest() {
    ptz_.reset();
    if (lvcam_.isLoaded())
        lvcam_.unload();
}

void PtzTest::useBackEnd(BackEnd backEnd, bool connect) {
    AppState& s = App();
    s.IsPtzCamera = backEnd == BackEnd::None ? kFalse : kTrue;
    s.IsLogitechPtz = backEnd == BackEnd::MotionLibrary ? kTrue : kFalse;
    s.IsCreativeMotion = backEnd == BackEnd::CameraControl ? kTrue : kFalse;
    s.IsPantiltCamera = backEnd == BackEnd::Pantilt ? kTrue : kFalse;
    ptz_->ReadMotorRanges();
    if (connect)
        ptz_->ConnectMotorAtStartup();
}

void PtzTest::connectCamera(const QByteArray& name) {
    // The variable is set back before it is set anew.
    cameras_.reset();
    cameras_ = std::make_unique<ScopedEnv>("KESTROVA_VIRTUAL_CAMERAS", name);
    ASSERT_TRUE(ConnectAt320x240(camSrc_, 0));
}

std::vector<LvCall> PtzTest::lvCalls() {
    std::vector<LvCall> calls;
    using Calls = const char* (*)();
    const auto function = reinterpret_cast<Calls>(lvcam_.resolve("FakeLvCam_Calls"));
    if (!function)
        return calls;
    for (const QString& entry : QString::fromLatin1(function()).split(QLatin1Char(';'))) {
        const qsizetype at = entry.indexOf(QLatin1Char('@'));
        if (at > 0)
            calls.push_back(LvCall{entry.left(at), entry.mid(at + 1).toLongLong()});
    }
    return calls;
}

QStringList PtzTest::lvCallNames() {
    QStringList names;
    for (const LvCall& c : lvCalls())
        names << c.call;
    return names;
}

void PtzTest::setLvResults(std::int32_t connect, std::int32_t home, std::int32_t move) {
    using Reset = void (*)(std::int32_t, std::int32_t, std::int32_t);
    const auto function = reinterpret_cast<Reset>(lvcam_.resolve("FakeLvCam_Reset"));
    ASSERT_NE(function, nullptr) << lvcam_.errorString().toStdString();
    function(connect, home, move);
}

QStringList PtzTest::packetErrors() const {
    return log().filter(QStringLiteral(" Process Packet Error: "));
}

void PtzTest::mark() {
    lvMark_ = lvCalls().size();
    reportMark_ = reports().size();
}

QString PtzTest::moves(BackEnd backEnd) {
    QStringList moved;
    if (backEnd == BackEnd::MotionLibrary) {
        moved = lvCallNames().mid(static_cast<qsizetype>(lvMark_));
    } else if (backEnd == BackEnd::Pantilt) {
        const std::vector<PantiltReport> all = reports();
        for (std::size_t i = reportMark_; i < all.size(); ++i)
            moved << QStringLiteral("%1,%2,%3").arg(all[i].x).arg(all[i].y).arg(all[i].z);
    } else {
        moved << QStringLiteral("%1,%2,%3")
                     .arg(cameraValue(CameraProperty::Pan))
                     .arg(cameraValue(CameraProperty::Tilt))
                     .arg(cameraValue(CameraProperty::Zoom));
    }
    return moved.join(QLatin1Char(' '));
}

std::int32_t PtzTest::cameraValue(CameraProperty property) {
    std::int32_t value = 0;
    EXPECT_TRUE(camSrc_.GetCameraControl(property, value));
    return value;
}

} // namespace kestrova::test
