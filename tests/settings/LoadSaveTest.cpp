#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "service/Archive.h"
#include "service/Sync.h"
#include "settings/Records.h"
#include "settings/Settings.h"
#include "settings/StationKey.h"
#include "support/TestSupport.h"
#include "ui/MainWindowLogic.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kestrova;
using test::ReadFile;
using test::WriteFile;

namespace {

class SettingsFiles : public ::testing::Test {
  protected:
    SettingsFiles() : folder_(fixture_.useDataFolder()) {}
    QString file(const char* name) const {
        return folder_ + QLatin1Char('/') + QLatin1String(name);
    }

    test::StationFixture fixture_;
    QString folder_;
};

QByteArray SettingsBytes(std::initializer_list<std::pair<int, int16_t>> fields, int32_t saved) {
    QByteArray b(308, '\0');
    qToLittleEndian<int32_t>(saved, b.data() + 256);
    for (auto [offset, value] : fields)
        qToLittleEndian<int16_t>(value, b.data() + offset);
    return b;
}

} // namespace

TEST_F(SettingsFiles, FirstRunCreatesEmptyFilesAndAppliesTheDefaults) {
    LoadSettings();
    for (const char* name : {"settings.dat", "cam.dat", "chat.dat", "archive.dat"}) {
        ASSERT_TRUE(QFile::exists(file(name))) << name;
        EXPECT_EQ(QFile(file(name)).size(), 0) << name;
    }
    const SettingsRecord& s = App().Settings;
    EXPECT_EQ(s.SettingsSaved, 1);
    EXPECT_EQ(s.CameraIndex, -1);
    EXPECT_EQ(s.LiveListing, 1);
    EXPECT_EQ(s.HideThumbnail, 0);
    EXPECT_EQ(s.JpegQuality, 75);
    EXPECT_EQ(s.ZoomEnabled, 1);
    EXPECT_EQ(s.SnapshotEnabled, 1);
    EXPECT_EQ(s.PasswordsEnabled, 0);
    EXPECT_EQ(s.PresetsEnabled, 1);
    EXPECT_EQ(s.ArchiveEnabled, 1);
    EXPECT_EQ(s.ChatEnabled, 0);
    EXPECT_EQ(s.Reserved292, 1);
    EXPECT_EQ(s.Reserved304, 1);
    EXPECT_EQ(App().Archive.DisplayArchive, 1);
    EXPECT_EQ(App().Archive.ArchiveRateIndex, 1);
    EXPECT_EQ(App().Cam.WizardDone, 0);

    // The controls show the loaded values.
    EXPECT_EQ(Ui().chkPublic.value(), 1);
    EXPECT_EQ(Ui().chkThumb.value(), 0);
    EXPECT_EQ(Ui().chkEnablePresets.value(), 1);
    EXPECT_EQ(Ui().sldJPEGQuality.value(), 75);
    EXPECT_EQ(Ui().cboArchive.value(), 1);

    SaveSettingsFile();
    const QByteArray saved = ReadFile(file("settings.dat"));
    ASSERT_EQ(saved.size(), 308);
    EXPECT_EQ(qFromLittleEndian<int16_t>(saved.constData() + 268), -1);
    EXPECT_EQ(qFromLittleEndian<int16_t>(saved.constData() + 282), 75);
}

TEST_F(SettingsFiles, DefaultsOverwriteOnlyTheirOwnFields) {
    QByteArray b = SettingsBytes({{268, 3},
                                  {274, 4500},
                                  {276, 0},
                                  {278, 1},
                                  {282, 20},
                                  {288, 1},
                                  {270, 9},
                                  {290, 9},
                                  {292, 9},
                                  {304, 9},
                                  {306, 9}},
                                 0);
    qToLittleEndian<int32_t>(77, b.data() + 260);
    WriteFile(file("settings.dat"), b);
    CamRecord cam;
    cam.CameraName.assign(QStringLiteral("Garden"));
    WriteFile(file("cam.dat"), EncodeCamRecord(cam));

    LoadSettings();
    const SettingsRecord& s = App().Settings;
    EXPECT_EQ(s.CameraIndex, -1);
    EXPECT_EQ(s.LiveListing, 1);
    EXPECT_EQ(s.HideThumbnail, 0);
    EXPECT_EQ(s.JpegQuality, 75);
    EXPECT_EQ(s.Reserved292, 1);
    EXPECT_EQ(s.Reserved304, 1);
    // Fields outside the list of defaults keep the file's values.
    EXPECT_EQ(s.PtzPort, 4500);
    EXPECT_EQ(s.TimeStampOn, 1);
    EXPECT_EQ(s.Reserved260, 77);
    EXPECT_EQ(s.Reserved270, 9);
    EXPECT_EQ(s.Reserved290, 9);
    EXPECT_EQ(s.Reserved306, 9);
    EXPECT_EQ(App().Cam.CameraName.trimmed(), QStringLiteral("Garden"));
}

TEST_F(SettingsFiles, SavedSettingsAreReadAsStoredExceptAZeroQuality) {
    WriteFile(file("settings.dat"), SettingsBytes({{268, 2}, {276, 0}, {282, 0}, {298, 0}}, 1));
    WriteFile(file("archive.dat"), QByteArray("\x00\x00\x06\x00", 4));
    Ui().cboArchive.items = QStringList(7, QStringLiteral("rate"));
    LoadSettings();
    EXPECT_EQ(App().Settings.JpegQuality, 75);
    EXPECT_EQ(App().Settings.CameraIndex, 2);
    EXPECT_EQ(App().Settings.LiveListing, 0);
    EXPECT_EQ(App().Settings.PresetsEnabled, 0);
    EXPECT_EQ(App().Archive.DisplayArchive, 0);
    EXPECT_EQ(Ui().cboArchive.value(), 6);
    EXPECT_EQ(Ui().chkEnablePresets.value(), 0);
}

TEST_F(SettingsFiles, SaversKeepBytesBeyondTheRecordAndLeaveNoTemporaryFile) {
    QByteArray longer = SettingsBytes({{282, 50}}, 1) + QByteArray("TRAILER");
    WriteFile(file("settings.dat"), longer);
    WriteFile(file("archive.dat"), QByteArray("\x01\x00\x02\x00tail", 8));
    LoadSettings();
    App().Settings.JpegQuality = 90;
    App().Archive.ArchiveRateIndex = 5;
    SaveSettingsFile();
    SaveArchiveFile();

    const QByteArray settings = ReadFile(file("settings.dat"));
    ASSERT_EQ(settings.size(), 315);
    EXPECT_EQ(qFromLittleEndian<int16_t>(settings.constData() + 282), 90);
    EXPECT_EQ(settings.right(7), QByteArray("TRAILER"));
    EXPECT_EQ(ReadFile(file("archive.dat")), QByteArray("\x01\x00\x05\x00tail", 8));
    EXPECT_EQ(QDir(folder_).entryList(QDir::Files).size(), 4);
}

TEST_F(SettingsFiles, RecordsThatWereNeverLoadedAreNotWritten) {
    const QByteArray stored = SettingsBytes({{282, 33}}, 1);
    WriteFile(file("settings.dat"), stored);
    SaveSettingsFile();
    SaveCamFile();
    SaveChatFile();
    SaveArchiveFile();
    EXPECT_EQ(ReadFile(file("settings.dat")), stored);
    EXPECT_FALSE(QFile::exists(file("cam.dat")));
    EXPECT_FALSE(QFile::exists(file("chat.dat")));
}

TEST_F(SettingsFiles, ChatFileIsWrittenWhole) {
    LoadSettings();
    App().Chat.ChatUserName.assign(QStringLiteral("viewer"));
    SaveChatFile();
    const QByteArray chat = ReadFile(file("chat.dat"));
    ASSERT_EQ(chat.size(), 106);
    EXPECT_EQ(chat.left(6), QByteArray("viewer"));
    EXPECT_EQ(chat.mid(6, 44), QByteArray(44, ' '));
    EXPECT_EQ(chat.mid(50, 50), QByteArray(50, '\0'));
}

TEST_F(SettingsFiles, OptionChangesReachTheSavedRecords) {
    const MainWindowLogic handlers; // the option switches copy into the records
    SettingsSync sync;
    ArchiveUploader archive(sync); // so do the archive's
    LoadSettings();
    Ui().cboArchive.items = QStringList(7, QStringLiteral("rate"));
    Ui().chkPublic.set(0);
    Ui().chkThumb.set(1);
    Ui().chkChatOnOff.set(1);
    Ui().chkDisplayArchive.set(1); // as start-up sets it from the record
    Ui().chkDisplayArchive.set(0);
    Ui().cboArchive.set(4);
    SaveSettingsFile();
    SaveArchiveFile();
    const SettingsRecord s = DecodeSettingsRecord(ReadFile(file("settings.dat")));
    EXPECT_EQ(s.LiveListing, 0);
    EXPECT_EQ(s.HideThumbnail, 1);
    EXPECT_EQ(s.ChatEnabled, 1);
    EXPECT_EQ(s.ZoomEnabled, 1);
    EXPECT_EQ(ReadFile(file("archive.dat")), QByteArray("\x00\x00\x04\x00", 4));
}

TEST_F(SettingsFiles, TheQualitySliderIsHandedTheStoredQualityWithoutReadingItBack) {
    WriteFile(file("settings.dat"), SettingsBytes({{282, 150}}, 1));
    int handled = 0;
    Ui().sldJPEGQuality.onChange([&] { ++handled; });
    LoadSettings();
    EXPECT_EQ(App().Settings.JpegQuality, 150);
    EXPECT_EQ(Ui().sldJPEGQuality.value(), 100); // as far as the slider's range goes
    EXPECT_EQ(handled, 0);
}

// station.key: made at the first start, kept with its camera identifier, replaced for another
// identifier or a damaged file, readable by the user alone and never logged.
TEST(StationKeyFile, IsMadeKeptAndReplacedWithItsIdentifierAndNeverLogged) {
    test::StationFixture fixture;
    const QString folder = fixture.useDataFolder();
    CreateEventLog();
    const QString path = folder + QStringLiteral("/station.key");
    const struct {
        const char* cameraId;
        QByteArray damage; // written over the file before the start, when given
        bool kept;
    } starts[] = {{"cam1", {}, false},
                  {"cam1", {}, true},
                  {"cam2", {}, false},
                  {"cam2", "not a key\ncam2\n", false},
                  {"cam2", QByteArray(43, '+') + "\ncam2\n", false}};
    QStringList keys{QString()};
    for (const auto& start : starts) {
        SCOPED_TRACE((start.cameraId + QByteArray(" ") + start.damage).toStdString());
        if (!start.damage.isEmpty())
            WriteFile(path, start.damage);
        App().CameraId.assign(QLatin1String(start.cameraId));
        ProvideStationKey();
        const QString key = App().StationKey;
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{43}$")).match(key).hasMatch());
        EXPECT_EQ(ReadFile(path), key.toLatin1() + '\n' + start.cameraId + '\n');
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(key == keys.last(), start.kept);
        keys << key;
    }
    EXPECT_EQ(test::LogMessages(folder).filter(QStringLiteral("Made a new station key")).size(), 4);
    const QByteArray log = ReadFile(folder + QStringLiteral("/Log.txt"));
    for (const QString& key : keys.mid(1))
        EXPECT_FALSE(log.contains(key.toLatin1())) << "a key is never logged";
}

TEST(StationKeyFile, AFileThatCannotBeReadFailsTheStart) {
    test::StationFixture fixture;
    ASSERT_TRUE(QDir().mkpath(fixture.useDataFolder() + QStringLiteral("/station.key")));
    App().CameraId.assign(QStringLiteral("cam1"));
    EXPECT_THROW(ProvideStationKey(), AppError);
}
