#include "settings/RecordFile.h"

#include "core/AppError.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace kestrova {

namespace {
[[noreturn]] void Fail(const QFileDevice& file, const QString& path) {
    throw AppError(path + QStringLiteral(": ") + file.errorString(), static_cast<int>(file.error()),
                   QStringLiteral("settings"));
}
} // namespace

QByteArray ReadRecordFile(const QString& path, int size) {
    QFile file(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly))
            Fail(file, path);
        file.close();
        return QByteArray(size, '\0');
    }
    if (!file.open(QIODevice::ReadOnly))
        Fail(file, path);
    QByteArray bytes = file.read(size);
    if (file.error() != QFileDevice::NoError)
        Fail(file, path);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

void WriteRecordFile(const QString& path, const QByteArray& record) {
    QByteArray contents;
    {
        QFile old(path);
        if (old.exists()) {
            if (!old.open(QIODevice::ReadOnly))
                Fail(old, path);
            contents = old.readAll();
        }
    }
    if (contents.size() < record.size())
        contents.resize(record.size());
    contents.replace(0, record.size(), record);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !WriteAndCommit(file, contents))
        Fail(file, path);
}

bool WriteAndCommit(QSaveFile& file, const QByteArray& bytes) {
    // QSaveFile buffers what it is given and commits even when pushing the buffer out fails,
    // which on a full disk would replace the old file with a short one.
    return file.write(bytes) == bytes.size() && file.flush() && file.commit();
}

int RemoveInterruptedSaves(const QString& folder) {
    // A temporary file is its target's name, a dot and six letters or digits.
    static const QRegularExpression temporary(QStringLiteral(
        "^(settings\\.dat|cam\\.dat|chat\\.dat|archive\\.dat|pass\\.dat|station\\.key|camera\\.id)"
        "\\.[A-Za-z0-9]{6}$"));
    int removed = 0;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (temporary.match(name).hasMatch() && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

} // namespace kestrova
