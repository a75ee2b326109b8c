// The command words: which words a packet triggers, in which order, and what a bad packet does.
#include "PtzFixture.h"

#include "core/Controls.h"

namespace kestrova::test {
namespace {

struct WordCase {
    const char* packet;
    QStringList calls; // what the motion library receives, in order
    bool error;        // a " Process Packet Error: " line is written
};

class WordTest : public PtzTest, public ::testing::WithParamInterface<WordCase> {};

// The motion library back-end shows each move with its direction code and amount.
TEST_P(WordTest, ThePacketTriggersItsWordsInTheirOrder) {
    const WordCase& c = GetParam();
    useBackEnd(BackEnd::MotionLibrary);
    ptz_->ProcessPacket(QString::fromLatin1(c.packet));
    EXPECT_EQ(c.calls, lvCallNames());
    EXPECT_EQ(c.error ? 1 : 0, packetErrors().size())
        << log().join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Words, WordTest,
    ::testing::Values(
        WordCase{"pan_left", {"Function5(0,320)"}, false},
        WordCase{"tilt_up", {"Function5(2,192)"}, false},
        // "pan_left" does not occur in "pan_double_left".
        WordCase{"pan_double_left", {"Function5(0,640)"}, false},
        WordCase{"pan_double_right", {"Function5(1,640)"}, false},
        // Both words are found, in the order of the vocabulary, not of the packet.
        WordCase{"tilt_down tilt_up", {"Function5(2,192)", "Function5(3,192)"}, false},
        WordCase{"pan_right,pan_left", {"Function5(0,320)", "Function5(1,320)"}, false},
        WordCase{"pre_up", {"Function5(2,320)"}, false},
        WordCase{"pre_right", {"Function5(1,320)"}, false},
        WordCase{"set_motor_home", {"Function4()"}, false},
        // A preset does not trigger the "pre_" words: the first letter's case differs.
        WordCase{"Preset_0:0:150", {"Function4()"}, false},
        WordCase{"GET /Preset_0:0:150 HTTP/1.1", {"Function4()"}, false},
        // A failing preset ends the packet: "pre_left" comes after it and is not looked at.
        WordCase{"Preset_0:x:150 pre_left", {}, true}, WordCase{"Preset_0:0", {}, true},
        WordCase{"Preset_", {}, true},
        WordCase{"pan_left Preset_0:0:99999999999", {"Function5(0,320)"}, true},
        WordCase{"nothing to do", {}, false}, WordCase{"", {}, false}));

TEST_F(PtzTest, MoveWordsAreIgnoredWithoutAMotor) {
    useBackEnd(BackEnd::None);
    ptz_->ProcessPacket(QStringLiteral("pan_left tilt_up set_motor_home Preset_0:0:0 pre_up"));
    EXPECT_TRUE(lvCallNames().isEmpty());
    EXPECT_TRUE(log().isEmpty());
}

TEST_F(PtzTest, TheReflectorWordsSwitchTheUploadsWithOrWithoutAMotor) {
    useBackEnd(BackEnd::None);
    ptz_->ProcessPacket(QStringLiteral("Reflector_true"));
    EXPECT_EQ(kTrue, App().ReflectorActive);
    ptz_->ProcessPacket(QStringLiteral("Reflector_false"));
    EXPECT_EQ(kFalse, App().ReflectorActive);
    // Both in one packet: the second is tested last.
    ptz_->ProcessPacket(QStringLiteral("Reflector_false Reflector_true"));
    EXPECT_EQ(kFalse, App().ReflectorActive);
}

TEST_F(PtzTest, ABadPacketWritesOneStampedErrorLine) {
    useBackEnd(BackEnd::CameraControl);
    ptz_->ProcessPacket(QStringLiteral("Preset_a:1:2"));
    const QStringList lines = packetErrors();
    ASSERT_EQ(1, lines.size());
    // Date and time, then the text: the line carries its own stamp after the log's.
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" Process Packet Error: Type mismatch")));
    EXPECT_GT(lines[0].indexOf(QLatin1Char(':')), 0);
    // The log's line break and the line's own.
    EXPECT_TRUE(ReadFile(dataFolder_ + QStringLiteral("/Log.txt"))
                    .endsWith("Process Packet Error: Type mismatch\r\n\r\n"));
}

struct PresetCase {
    const char* packet;
    std::int32_t pan, tilt, zoom; // the camera's values afterwards (it starts at 0, 0, 100)
    bool error;
};

class CameraControlPresetTest : public PtzTest, public ::testing::WithParamInterface<PresetCase> {};

TEST_P(CameraControlPresetTest, ThePresetGrammarGivesPanTiltAndZoom) {
    const PresetCase& c = GetParam();
    connectCamera("Creative WebCam Live! Motion");
    camSrc_.SetCameraControl(CameraProperty::Pan, 0);
    camSrc_.SetCameraControl(CameraProperty::Tilt, 0);
    camSrc_.SetCameraControl(CameraProperty::Zoom, 100);
    useBackEnd(BackEnd::CameraControl);
    ptz_->ProcessPacket(QString::fromLatin1(c.packet));
    EXPECT_EQ(c.pan, cameraValue(CameraProperty::Pan));
    EXPECT_EQ(c.tilt, cameraValue(CameraProperty::Tilt));
    EXPECT_EQ(c.zoom, cameraValue(CameraProperty::Zoom));
    EXPECT_EQ(c.zoom, Ui().sldFocus.value());
    EXPECT_EQ(c.error ? 1 : 0, packetErrors().size());
}

INSTANTIATE_TEST_SUITE_P(
    Presets, CameraControlPresetTest,
    ::testing::Values(PresetCase{"Preset_-3600:7200:150", -3600, 7200, 150, false},
                      PresetCase{"Preset_ -3600 : +7200 :150\r\n", -3600, 7200, 150, false},
                      PresetCase{"GET /Preset_3600:-3600:200 HTTP/1.1", 3600, -3600, 200, false},
                      PresetCase{"Preset_1:2:300:extra:pieces", 1, 2, 300, false},
                      // "GET" anywhere: the text from the 13th character, up to a blank.
                      PresetCase{"XGET_Preset_5:6:300", 5, 6, 300, false},
                      PresetCase{"Preset_GET_3600:-3600:200", 600, -3600, 200, false},
                      PresetCase{"Preset_1200:2400:300 GET", 0, 0, 100, true},
                      // Two pieces: the camera control needs the zoom too.
                      PresetCase{"Preset_1200:2400", 0, 0, 100, true},
                      PresetCase{"Preset_1200:2400:", 0, 0, 100, true},
                      PresetCase{"Preset_0x10:0:100", 0, 0, 100, true},
                      PresetCase{"Preset_2147483648:0:100", 0, 0, 100, true}));

TEST_F(PtzTest, ACameraControlPresetOutsideTheRangeIsSentUnchanged) {
    connectCamera("Creative WebCam Live! Motion");
    useBackEnd(BackEnd::CameraControl);
    ptz_->ProcessPacket(QStringLiteral("Preset_99999:-99999:900"));
    EXPECT_EQ(99999, App().PanPos);
    EXPECT_EQ(-99999, App().TiltPos);
    EXPECT_EQ(900, App().ZoomPos);
    // The camera keeps to its own range.
    EXPECT_EQ(36000, cameraValue(CameraProperty::Pan));
    EXPECT_EQ(-36000, cameraValue(CameraProperty::Tilt));
    EXPECT_EQ(500, cameraValue(CameraProperty::Zoom));
}

TEST_F(PtzTest, TheMoveButtonsSendTheirPacketsOnlyToAMotorCamera) {
    const Controls& ui = Ui();
    EXPECT_EQ((QStringList{QStringLiteral("\u2190"), QStringLiteral("\u2192"),
                           QStringLiteral("\u2191"), QStringLiteral("\u2193"), QString()}),
              (QStringList{ui.butMove[0].value(), ui.butMove[1].value(), ui.butMove[2].value(),
                           ui.butMove[3].value(), ui.butMove[4].value()}));
    EXPECT_EQ((QStringList{QStringLiteral("Move Left"), QStringLiteral("Move Right"),
                           QStringLiteral("Move Up"), QStringLiteral("Move Down"),
                           QStringLiteral("Move Home")}),
              QStringList(ui.butMoveToolTip.begin(), ui.butMoveToolTip.end()));

    useBackEnd(BackEnd::None);
    for (Button& button : Ui().butMove)
        button.click();
    EXPECT_TRUE(lvCallNames().isEmpty());

    useBackEnd(BackEnd::MotionLibrary);
    for (Button& button : Ui().butMove)
        button.click();
    EXPECT_EQ((QStringList{"Function5(0,320)", "Function5(1,320)", "Function5(2,192)",
                           "Function5(3,192)", "Function4()"}),
              lvCallNames());
}

} // namespace
} // namespace kestrova::test
