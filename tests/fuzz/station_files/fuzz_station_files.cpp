// libFuzzer entry for the files the station reads at start. The first byte picks the file, the
// rest is its content, written to a data folder (or program folder) of the run's own; then the
// station's own code reads it as at start, and writes it back where the station does:
//
//   0 settings.dat  1 cam.dat  2 chat.dat  3 archive.dat   (the settings records)
//   4 deployment.conf  5 kestrovaType.dat  6 camera.id  7 station.key  8 pass.dat
//
// The same entry runs in the ordinary test suite over the seed corpus and generated inputs
// (../replay_test.cpp).
//
// Besides staying inside its input, the reading must keep these properties; a violation traps.
//  - A file that cannot be taken is refused with AppError; anything else leaves usable values.
//  - A record saved after loading is the record as loaded, and the bytes after it are kept.
//  - The camera identifier taken is one that may be sent; a station key taken is a valid key,
//    kept when the file held a valid one for this camera, otherwise made anew and written.
//  - The viewer password is never empty, holds no line break, and reads back as it was saved.
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/StationState.h"
#include "settings/Deployment.h"
#include "settings/Password.h"
#include "settings/Records.h"
#include "settings/Settings.h"
#include "settings/StationKey.h"
#include "settings/TypeNumber.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace kestrova;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

struct Folders {
    Folders() {
        static int argc = 1;
        static char name[] = "station_files_fuzzer";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        qunsetenv("KESTROVA_CONFIG");
    }
    QTemporaryDir data;
    QTemporaryDir program;
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    Check(file.write(bytes) == bytes.size());
}

// Loads one record file, saves it again, and checks what the save left.
void RecordRoundTrip(const QString& path, const QByteArray& content, int size, void (*load)(),
                     void (*save)(), QByteArray (*encoded)()) {
    Write(path, content);
    load();
    const QByteArray loaded = encoded();
    Check(loaded.size() == size);
    save();
    const QByteArray saved = ReadAll(path);
    Check(saved.left(size) == loaded);
    Check(saved.mid(size) == content.mid(size));
}

void ReadCameraId(const char* source) {
    try {
        ProvideCameraId();
    } catch (const AppError& e) {
        Check(!e.description().isEmpty());
        return;
    }
    Check(IsValidCameraId(App().CameraId.trimmed()));
    if (std::string_view(source) == "camera.id") {
        const QString kept =
            QString::fromUtf8(ReadAll(App().DataFolder + "/camera.id").left(4096)).trimmed();
        Check(kept == App().CameraId.trimmed());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Folders folders;
    if (size == 0)
        return 0;
    const QByteArray content(reinterpret_cast<const char*>(data) + 1,
                             static_cast<qsizetype>(size - 1));
    const QString dataFolder = folders.data.path();
    const QString programFolder = folders.program.path();
    for (const QString& folder : {dataFolder, programFolder}) {
        QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
            dir.remove(name);
    }

    StationState state;
    state.programFolder = programFolder;
    App().DataFolder = dataFolder;
    const QString in = dataFolder + QLatin1Char('/');

    switch (data[0] % 9) {
    case 0:
        // The whole loading of the records, with the first-run defaults it applies.
        Write(in + "settings.dat", content);
        LoadSettings();
        SaveSettingsFile();
        Check(ReadAll(in + "settings.dat").left(kSettingsRecordSize) ==
              EncodeSettingsRecord(App().Settings));
        Check(ReadAll(in + "settings.dat").mid(kSettingsRecordSize) ==
              content.mid(kSettingsRecordSize));
        Check(App().Settings.JpegQuality != 0);
        break;
    case 1:
        RecordRoundTrip(in + "cam.dat", content, kCamRecordSize, LoadCamFile, SaveCamFile,
                        [] { return EncodeCamRecord(App().Cam); });
        (void)App().Cam.CameraName.trimmed();
        (void)App().Cam.EmailAddress.trimmed();
        break;
    case 2:
        RecordRoundTrip(in + "chat.dat", content, kChatRecordSize, LoadChatFile, SaveChatFile,
                        [] { return EncodeChatRecord(App().Chat); });
        (void)App().Chat.ChatUserName.trimmed();
        (void)App().Chat.ChatRoomName.trimmed();
        break;
    case 3:
        RecordRoundTrip(in + "archive.dat", content, kArchiveRecordSize, LoadArchiveFile,
                        SaveArchiveFile, [] { return EncodeArchiveRecord(App().Archive); });
        break;
    case 4: {
        Write(programFolder + "/deployment.conf", content);
        const Deployment d = ReadDeployment();
        Check(d.MainPort >= 1);
        ReadCameraId("deployment.conf");
        break;
    }
    case 5:
        Write(programFolder + "/kestrovaType.dat", content);
        try {
            (void)ReadTypeNumber();
        } catch (const AppError& e) {
            Check(!e.description().isEmpty());
        }
        break;
    case 6:
        Write(in + "camera.id", content);
        ReadCameraId("camera.id");
        break;
    case 7: {
        Write(in + "station.key", content);
        App().CameraId.assign(QStringLiteral("cam"));
        const QList<QByteArray> lines = content.left(4096).split('\n');
        const QString keptKey = QString::fromLatin1(lines.value(0).trimmed());
        const bool keptValid = IsValidStationKey(keptKey) &&
                               QString::fromUtf8(lines.value(1).trimmed()) == QLatin1String("cam");
        ProvideStationKey();
        Check(IsValidStationKey(App().StationKey));
        if (keptValid)
            Check(App().StationKey == keptKey);
        else
            Check(ReadAll(in + "station.key") == App().StationKey.toLatin1() + "\ncam\n");
        break;
    }
    default: {
        Write(in + "pass.dat", content);
        const QString password = getPassword();
        Check(!password.isEmpty() && !password.contains(QLatin1Char('\n')) &&
              password == password.trimmed());
        setPassword(password);
        Check(getPassword() == password);
        break;
    }
    }
    return 0;
}
