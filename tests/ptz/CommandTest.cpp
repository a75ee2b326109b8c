// Packets through the dispatcher to each back-end: which words a packet triggers, in which order,
// and where the camera goes.
#include "PtzFixture.h"

#include "core/Controls.h"

namespace kestrova::test {
namespace {

struct PacketCase {
    BackEnd backEnd;
    const char* before; // a packet that runs first
    const char* packet;
    const char* moves; // what the back-end was told by the packet (see PtzTest::moves)
    int errors;        // " Process Packet Error: " lines
};

class PacketTest : public PtzTest, public ::testing::WithParamInterface<PacketCase> {};

// The camera starts at pan 0, tilt 0, zoom 100 (range 100 to 500; pan -3200 to 3200 in steps of
// 320, tilt -2400 to 2400 in steps of 240), the pantilt unit at X 100, Y 90, Z 55 (limits 210
// and 330).
TEST_P(PacketTest, ThePacketMovesTheBackEnd) {
    const PacketCase& c = GetParam();
    connectCamera(c.backEnd == BackEnd::CameraControl ? "Creative WebCam Live! Motion"
                                                      : "USB Camera");
    camSrc_.SetCameraControl(CameraProperty::Pan, 0);
    camSrc_.SetCameraControl(CameraProperty::Tilt, 0);
    camSrc_.SetCameraControl(CameraProperty::Zoom, 100);
    useBackEnd(c.backEnd, c.backEnd == BackEnd::Pantilt);
    ptz_->ProcessPacket(QString::fromLatin1(c.before));
    mark();
    ptz_->ProcessPacket(QString::fromLatin1(c.packet));
    EXPECT_EQ(c.moves, moves(c.backEnd).toStdString());
    EXPECT_EQ(c.errors, packetErrors().size());
}

constexpr BackEnd kLv = BackEnd::MotionLibrary;
constexpr BackEnd kCc = BackEnd::CameraControl;
constexpr BackEnd kPt = BackEnd::Pantilt;

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketTest,
    ::testing::Values(
        // The motion library: direction codes and amounts, in the order of the vocabulary.
        PacketCase{kLv, "", "pan_left", "Function5(0,320)", 0},
        PacketCase{kLv, "", "pan_double_left", "Function5(0,640)", 0}, // holds no "pan_left"
        PacketCase{kLv, "", "tilt_down tilt_up", "Function5(2,192) Function5(3,192)", 0},
        PacketCase{kLv, "", "pre_right set_motor_home", "Function4() Function5(1,320)", 0},
        PacketCase{kLv, "", "Preset_0:0:150", "Function4()", 0}, // no "pre_" word
        PacketCase{kLv, "", "GET /Preset_0:0:150 HTTP/1.1", "Function4()", 0},
        PacketCase{kLv, "", "Preset_0:x:150 pre_left", "", 1}, // the error ends the packet
        PacketCase{kLv, "", "Preset_0:0", "", 1},
        PacketCase{kLv, "", "Preset_-2147483648:1:0", "", 1},
        // A plain webcam: no moves, but a zoom by 10.
        PacketCase{BackEnd::None, "", "pan_left tilt_up set_motor_home Preset_0:0:300", "0,0,100",
                   0},
        PacketCase{BackEnd::None, "", "ZOOM_IN", "0,0,110", 0},
        // The camera control: steps within the camera's ranges, presets as they come.
        PacketCase{kCc, "", "pan_right tilt_up", "320,240,100", 0},
        PacketCase{kCc, "Preset_3000:0:100", "pan_right", "3200,0,100", 0},
        PacketCase{kCc, "", "Preset_-320:480:150", "-320,480,150", 0},
        PacketCase{kCc, "", "Preset_ -320 : +480 :150\r\n", "-320,480,150", 0},
        PacketCase{kCc, "", "Preset_1:2:300:more:pieces", "1,2,300", 0},
        PacketCase{kCc, "", "GET /Preset_320:-240:200 HTTP/1.1", "320,-240,200", 0},
        // "GET" anywhere: the preset is read from the 13th character, up to a blank.
        PacketCase{kCc, "", "XGET_Preset_5:6:300", "5,6,300", 0},
        PacketCase{kCc, "", "Preset_GET_3240:-240:200", "240,-240,200", 0},
        PacketCase{kCc, "", "Preset_1200:2400:300 GET", "0,0,100", 1},
        PacketCase{kCc, "", "Preset_1200:2400", "0,0,100", 1}, // the zoom is missing
        PacketCase{kCc, "", "Preset_99999:-99999:900", "3200,-2400,500", 0},
        PacketCase{kCc, "Preset_-2147483648:0:100", "pan_left", "-3200,0,100", 1},
        PacketCase{kCc, "Preset_0:0:500", "RESTORE", "0,0,100", 0},
        // The pantilt unit: every report carries X, Y and Z.
        PacketCase{kPt, "Preset_3:320", "pan_left", "0,320,55", 0},
        PacketCase{kPt, "Preset_3:320", "pan_double_right", "210,320,55", 0},
        PacketCase{kPt, "Preset_3:320", "tilt_up", "3,330,55", 0},
        PacketCase{kPt, "Preset_3:320", "pre_down", "3,0,55", 0},
        PacketCase{kPt, "Preset_3:320", "set_motor_home", "100,320,55 100,90,55", 0},
        PacketCase{kPt, "", "ZOOM_IN RESTORE", "100,90,60 100,90,0", 0},
        PacketCase{kPt, "", "Preset_150:60", "150,90,55 150,60,55", 0}, // no zoom needed
        PacketCase{kPt, "Preset_-32768:0", "pan_left", "", 1},
        PacketCase{kPt, "Preset_0:32767", "tilt_up", "", 1},
        PacketCase{kPt, "", "Preset_32768:0", "", 1}));

TEST_F(PtzTest, TheReflectorWordsSwitchTheUploadsWithOrWithoutAMotor) {
    ptz_->ProcessPacket(QStringLiteral("Reflector_true"));
    EXPECT_EQ(kTrue, App().ReflectorActive);
    // Both in one packet: "Reflector_false" is tested last.
    ptz_->ProcessPacket(QStringLiteral("Reflector_false Reflector_true"));
    EXPECT_EQ(kFalse, App().ReflectorActive);
}

TEST_F(PtzTest, ABadPacketWritesOneStampedErrorLine) {
    useBackEnd(BackEnd::CameraControl);
    ptz_->ProcessPacket(QStringLiteral("Preset_a:1:2"));
    // The log's date and time, then the line's own, the text and a line break.
    const QByteArray text = ReadFile(dataFolder_ + QStringLiteral("/Log.txt"));
    EXPECT_TRUE(text.endsWith(" Process Packet Error: Type mismatch\r\n\r\n"));
    ASSERT_EQ(1, packetErrors().size());
    EXPECT_NE(packetErrors()[0], QStringLiteral(" Process Packet Error: Type mismatch"));
}

TEST_F(PtzTest, TheMoveButtonsSendTheirPacketsOnlyToAMotorCamera) {
    for (const BackEnd backEnd : {BackEnd::None, BackEnd::MotionLibrary}) {
        useBackEnd(backEnd);
        for (Button& button : Ui().butMove)
            button.click();
    }
    EXPECT_EQ((QStringList{"Function5(0,320)", "Function5(1,320)", "Function5(2,192)",
                           "Function5(3,192)", "Function4()"}),
              lvCallNames());
}

} // namespace
} // namespace kestrova::test
