#include "settings/Password.h"

#include "core/AppError.h"
#include "core/AppState.h"
#include "settings/RecordFile.h"

#include <QFile>
#include <QSaveFile>

namespace kestrova {

namespace {

QString PasswordPath() {
    return App().DataFolder + QStringLiteral("/pass.dat");
}

// A file holds a few dozen bytes; one far larger is no password file.
constexpr qint64 kMaxPasswordFileBytes = 64 * 1024;

} // namespace

QString getPassword() {
    QFile file(PasswordPath());
    QString last;
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxPasswordFileBytes) {
        QList<QByteArray> lines = file.readAll().split('\n');
        // A line break at the very end closes the last line; it starts no new one.
        if (lines.size() > 1 && lines.last().isEmpty())
            lines.removeLast();
        QByteArray line = lines.last();
        if (line.endsWith('\r'))
            line.chop(1);
        last = QString::fromUtf8(line);
    }
    // A byte order mark (U+FEFF, which an editor may put at the start of the file, and which is
    // dropped when it starts the file) is a blank like the others: otherwise a password made of
    // one would read back as no password at all.
    const auto blank = [](QChar c) { return c.isSpace() || c == QChar(0xFEFF); };
    qsizetype from = 0;
    qsizetype to = last.size();
    while (from < to && blank(last[from]))
        ++from;
    while (to > from && blank(last[to - 1]))
        --to;
    last = last.mid(from, to - from);
    return last.isEmpty() ? DefaultViewerPassword() : last;
}

void setPassword(const QString& Password) {
    QSaveFile file(PasswordPath());
    const auto fail = [&file] {
        throw AppError(file.errorString(), static_cast<int>(file.error()),
                       QStringLiteral("pass.dat"));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray line = Password.toUtf8() + QByteArrayLiteral("\r\n");
    if (!WriteAndCommit(file, line))
        fail();
}

} // namespace kestrova
