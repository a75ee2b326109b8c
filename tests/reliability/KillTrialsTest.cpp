// The station's files under a kill and on a full disk.
//
// Kill trials: station_saver saves every file the station writes through the station's own
// code, alternating two known contents, and is killed with SIGKILL at a random moment; then
// every file must hold the one content or the other, complete. The saver does nothing but
// save, so a moment drawn uniformly from a window of a few save cycles after it says "ready"
// falls inside the saving; the saver marks in shared memory which file it is saving, and the
// trials count where each kill landed.
// KESTROVA_KILL_TRIALS sets the number of trials (100 unless set).
//
// Full disk: a small tmpfs (mounted by the test, which needs root; skipped otherwise) filled
// to the last byte; saving must fail with a clear error and leave every old file whole, and
// the station's close must end in time, say that the settings could not be saved, and keep them.
#include "SavedContents.h"
#include "core/AppError.h"
#include "core/StationState.h"
#include "settings/Password.h"
#include "settings/RecordFile.h"
#include "settings/Records.h"
#include "settings/Settings.h"
#include "settings/StationKey.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace kestrova {
namespace {

const QStringList kRecordFiles = {QStringLiteral("settings.dat"), QStringLiteral("cam.dat"),
                                  QStringLiteral("chat.dat"), QStringLiteral("archive.dat")};
const QStringList kKnownFiles =
    kRecordFiles + QStringList{QStringLiteral("pass.dat"), QStringLiteral("station.key")};

// The bytes of each file for content 0 and 1, as the station's encoders make them.
struct Expected {
    std::map<QString, QByteArray> bytes[2];
};

Expected ExpectedFiles() {
    test::StationFixture fixture;
    Expected expected;
    for (int which : {0, 1}) {
        test::SetTrialRecords(which);
        auto& files = expected.bytes[which];
        files[QStringLiteral("settings.dat")] = EncodeSettingsRecord(App().Settings);
        files[QStringLiteral("cam.dat")] = EncodeCamRecord(App().Cam);
        files[QStringLiteral("chat.dat")] = EncodeChatRecord(App().Chat);
        files[QStringLiteral("archive.dat")] = EncodeArchiveRecord(App().Archive);
        files[QStringLiteral("pass.dat")] = test::TrialPassword(which).toUtf8() + "\r\n";
    }
    return expected;
}

// What is wrong with the folder's files ("" when each is one of the two contents, whole).
QString CheckFiles(const QString& folder, const Expected& expected) {
    QString wrong;
    for (const QString& name : kKnownFiles) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!QFile::exists(path)) {
            wrong += name + QStringLiteral(" is missing; ");
            continue;
        }
        const QByteArray bytes = test::ReadFile(path);
        if (name == QLatin1String("station.key")) {
            const QList<QByteArray> lines = bytes.split('\n');
            const bool whole = lines.size() == 3 && lines[2].isEmpty() &&
                               IsValidStationKey(QString::fromLatin1(lines[0])) &&
                               (lines[1] == test::TrialCameraId(0).toLatin1() ||
                                lines[1] == test::TrialCameraId(1).toLatin1());
            if (!whole)
                wrong += QStringLiteral("station.key is torn; ");
        } else if (bytes != expected.bytes[0].at(name) && bytes != expected.bytes[1].at(name)) {
            wrong += name + QStringLiteral(" is torn (%1 bytes); ").arg(bytes.size());
        }
    }
    return wrong;
}

QString SaverProgram() {
    return QStringLiteral(STATION_SAVER);
}

int TrialCount() {
    const int n = qEnvironmentVariableIntValue("KESTROVA_KILL_TRIALS");
    return n > 0 ? n : 100;
}

TEST(KillTrials, EveryFileIsTheOldOrTheNewOneAfterSigkillWhileSaving) {
    const Expected expected = ExpectedFiles();
    QTemporaryDir dir;
    const QString folder = dir.path();
    ASSERT_EQ(QProcess::execute(SaverProgram(), {folder, QStringLiteral("once")}), 0);
    ASSERT_EQ(CheckFiles(folder, expected), QString());

    // The window the kill moments are drawn from: three save cycles.
    QProcess calibration;
    calibration.start(SaverProgram(), {folder, QStringLiteral("cycles"), QStringLiteral("50")});
    ASSERT_TRUE(calibration.waitForFinished(60000));
    const long cycleMicros = calibration.readAllStandardOutput().trimmed().toLong();
    ASSERT_GT(cycleMicros, 0);
    const long window = 3 * cycleMicros;

    std::mt19937 random(20240607);
    std::uniform_int_distribution<long> moment(0, window);
    const int trials = TrialCount();
    int torn = 0;
    int insideSaves = 0;
    int leftovers = 0;
    std::map<QString, int> landedIn;
    QTemporaryDir markDir;
    const QString mark = markDir.path() + QStringLiteral("/mark");
    for (int trial = 0; trial < trials; ++trial) {
        test::WriteFile(mark, QByteArray(1, '\0'));
        QProcess saver;
        saver.start(SaverProgram(), {folder, QStringLiteral("loop"), mark});
        ASSERT_TRUE(saver.waitForReadyRead(20000)) << "the saver did not start";
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        saver.kill();
        ASSERT_TRUE(saver.waitForFinished(20000));
        ASSERT_EQ(saver.exitStatus(), QProcess::CrashExit) << "the saver ended by itself";

        const QString wrong = CheckFiles(folder, expected);
        if (!wrong.isEmpty()) {
            ++torn;
            ADD_FAILURE() << "trial " << trial << ": " << wrong.toStdString();
        }
        const QByteArray marked = test::ReadFile(mark);
        const int landed = marked.isEmpty() ? 0 : marked[0];
        if (landed >= 1 && landed <= kKnownFiles.size()) {
            ++insideSaves;
            ++landedIn[kKnownFiles[landed - 1]];
        }
        // A kill between a save's first byte and its rename leaves its temporary file
        // ("settings.dat.XXXXXX") behind; the station's next start removes it, and only it.
        leftovers += RemoveInterruptedSaves(folder);
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            EXPECT_TRUE(kKnownFiles.contains(name) || name == QLatin1String("Log.txt"))
                << name.toStdString();
        }
    }
    QString where;
    for (const auto& [name, count] : landedIn)
        where += QStringLiteral(" %1 %2,").arg(name).arg(count);
    where.chop(1);
    std::printf("%d kill trials (window %ld us, one save cycle %ld us): %d torn or missing; "
                "%d kills inside a save (%s); %d temporary files left\n",
                trials, window, cycleMicros, torn, insideSaves, qPrintable(where), leftovers);
    EXPECT_EQ(torn, 0);
    // Kills that never land inside the saving would prove nothing.
    EXPECT_GT(insideSaves, trials / 2);
}

// A tmpfs of `kilobytes` mounted on a folder of its own, for as long as it lives.
class SmallDisk {
  public:
    explicit SmallDisk(const QString& path, int kilobytes) : path_(path) {
        QDir().mkpath(path_);
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0700";
        mounted_ = ::mount("tmpfs", QFile::encodeName(path_).constData(), "tmpfs", 0,
                           options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    // Writes a file until the disk is full.
    void fill() const {
        QFile filler(path_ + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        const QByteArray byte(1, 'x');
        while (filler.write(byte) == 1 && filler.flush()) {
        }
    }

  private:
    QString path_;
    bool mounted_ = false;
};

#define SKIP_WITHOUT_SMALL_DISK(disk)                                                              \
    if (::geteuid() != 0)                                                                          \
        GTEST_SKIP() << "Saving on a full disk is checked as root only (the test mounts a "        \
                        "small tmpfs); run the test as root to check it.";                         \
    if (!(disk).mounted())                                                                         \
    GTEST_SKIP() << "A small tmpfs could not be mounted here; saving on a full disk is "           \
                    "not checked."

TEST(FullDisk, EverySaveFailsClearlyAndKeepsTheOldFile) {
    QTemporaryDir dir;
    SmallDisk disk(dir.path() + QStringLiteral("/disk"), 256);
    SKIP_WITHOUT_SMALL_DISK(disk);
    const QString folder = dir.path() + QStringLiteral("/disk");
    ASSERT_EQ(QProcess::execute(SaverProgram(), {folder, QStringLiteral("once")}), 0);
    const Expected expected = ExpectedFiles();
    disk.fill();

    test::StationFixture fixture;
    App().DataFolder = folder;
    LoadSettingsFile();
    LoadCamFile();
    LoadChatFile();
    LoadArchiveFile();
    test::SetTrialRecords(1);
    const std::pair<const char*, void (*)()> saves[] = {
        {"settings.dat", SaveSettingsFile},
        {"cam.dat", SaveCamFile},
        {"chat.dat", SaveChatFile},
        {"archive.dat", SaveArchiveFile},
        {"pass.dat", [] { setPassword(test::TrialPassword(1)); }},
        {"station.key",
         [] {
             App().CameraId.assign(test::TrialCameraId(1));
             ProvideStationKey();
         }},
    };
    for (const auto& [name, save] : saves) {
        SCOPED_TRACE(name);
        try {
            save();
            ADD_FAILURE() << "the save on a full disk succeeded";
        } catch (const AppError& e) {
            EXPECT_TRUE(e.description().contains(QStringLiteral("No space left on device")))
                << e.description().toStdString();
        }
    }
    EXPECT_EQ(CheckFiles(folder, expected), QString());
    for (const QString& name : kRecordFiles + QStringList{QStringLiteral("pass.dat")})
        EXPECT_EQ(test::ReadFile(folder + QLatin1Char('/') + name), expected.bytes[0].at(name))
            << name.toStdString();
    EXPECT_TRUE(test::ReadFile(folder + QStringLiteral("/station.key"))
                    .contains(test::TrialCameraId(0).toLatin1()));
    // No temporary file is left behind (beside the files: the log and the filler).
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), kKnownFiles.size() + 2);
}

TEST(FullDisk, TheCloseKeepsTheOldSettingsSaysSoAndEnds) {
    test::StationProcess run;
    SmallDisk disk(run.dataHome(), 1024);
    SKIP_WITHOUT_SMALL_DISK(disk);
    QProcess& station = run.start();
    ASSERT_TRUE(run.waitForLogLine(QStringLiteral("Launching Software: Launching Kestrova"), 30000))
        << run.errors(station).toStdString();
    std::map<QString, QByteArray> before;
    for (const QString& name : kRecordFiles)
        before[name] = test::ReadFile(run.dataFolder() + QLatin1Char('/') + name);
    disk.fill();

    ASSERT_TRUE(test::StationProcess::terminate(station, 30000)) << "the close did not end";
    const QString errors = run.errors(station);
    EXPECT_TRUE(errors.contains(QStringLiteral("Kestrova: saving settings failed: ")) &&
                errors.contains(QStringLiteral("No space left on device")))
        << errors.toStdString();
    for (const QString& name : kRecordFiles)
        EXPECT_EQ(test::ReadFile(run.dataFolder() + QLatin1Char('/') + name), before[name])
            << name.toStdString();
}

} // namespace
} // namespace kestrova
