#include "settings/StationKey.h"

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/EventLog.h"
#include "settings/RecordFile.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSaveFile>

#include <sodium.h>

#include <array>

namespace kestrova {

namespace {

constexpr std::size_t kKeyBytes = 32;
const QString kFileName = QStringLiteral("station.key");

QString KeyPath() {
    return App().DataFolder + QLatin1Char('/') + kFileName;
}

[[noreturn]] void Fail(const QFileDevice& file) {
    throw AppError(kFileName + QStringLiteral(": ") + file.errorString(),
                   static_cast<int>(file.error()), kFileName);
}

QString MakeKey() {
    if (sodium_init() < 0)
        throw AppError(QStringLiteral("The random number source cannot be used"), 5, kFileName);
    std::array<unsigned char, kKeyBytes> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::array<char, sodium_base64_ENCODED_LEN(kKeyBytes, variant)> text{};
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), variant);
    sodium_memzero(bytes.data(), bytes.size());
    const QString key = QString::fromLatin1(text.data());
    sodium_memzero(text.data(), text.size());
    return key;
}

struct KeyFile {
    bool exists = false;
    QString key;
    QString cameraId;
};

KeyFile ReadKeyFile() {
    KeyFile kept;
    QFile file(KeyPath());
    if (!file.exists())
        return kept;
    if (!file.open(QIODevice::ReadOnly))
        Fail(file);
    // A valid file is short; a little more than that is enough to tell a damaged one.
    const QByteArray bytes = file.read(4096);
    if (file.error() != QFileDevice::NoError)
        Fail(file);
    kept.exists = true;
    const QList<QByteArray> lines = bytes.split('\n');
    kept.key = QString::fromLatin1(lines.value(0).trimmed());
    kept.cameraId = QString::fromUtf8(lines.value(1).trimmed());
    return kept;
}

void WriteKeyFile(const QString& key, const QString& cameraId) {
    QSaveFile file(KeyPath());
    if (!file.open(QIODevice::WriteOnly))
        Fail(file);
    // Only the user may read the key: the temporary file is narrowed before anything is in it,
    // and the rename keeps its mode.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        Fail(file);
    const QByteArray contents = key.toLatin1() + '\n' + cameraId.toUtf8() + '\n';
    if (!WriteAndCommit(file, contents))
        Fail(file);
}

} // namespace

bool IsValidStationKey(const QString& key) {
    if (key.size() != kStationKeyLength)
        return false;
    const QByteArray text = key.toLatin1();
    std::array<unsigned char, kKeyBytes + 1> bytes{};
    std::size_t length = 0;
    const bool decoded = sodium_base642bin(bytes.data(), bytes.size(), text.constData(),
                                           static_cast<std::size_t>(text.size()), nullptr, &length,
                                           nullptr, sodium_base64_VARIANT_URLSAFE_NO_PADDING) == 0;
    sodium_memzero(bytes.data(), bytes.size());
    return decoded && length == kKeyBytes;
}

void ProvideStationKey() {
    const QString cameraId = App().CameraId.trimmed();
    const KeyFile kept = ReadKeyFile();
    QString why;
    if (!kept.exists)
        why = QStringLiteral("there was none yet");
    else if (!IsValidStationKey(kept.key))
        why = kFileName + QStringLiteral(" held no valid key");
    else if (kept.cameraId != cameraId)
        why = QStringLiteral("the kept key was made for another camera identifier");
    if (why.isEmpty()) {
        App().StationKey = kept.key;
        return;
    }
    const QString key = MakeKey();
    WriteKeyFile(key, cameraId);
    App().StationKey = key;
    WriteLog(QStringLiteral("Launching Software: Made a new station key for camera ") + cameraId +
             QStringLiteral(" (") + why + QStringLiteral(")"));
}

} // namespace kestrova
