#include "settings/TypeNumber.h"

#include "core/AppError.h"
#include "settings/DataFolder.h"

#include <QFile>

#include <cfenv>
#include <cmath>

namespace kestrova {

namespace {
[[noreturn]] void Fail(const QString& description, int number) {
    throw AppError(description, number, QStringLiteral("kestrovaType.dat"));
}
} // namespace

std::int16_t ParseTypeNumber(const QByteArray& contents) {
    if (contents.isEmpty())
        Fail(QStringLiteral("Input past end of file"), 62);
    // Lines end with LF or CR LF; a line break after the last line does not start another.
    QByteArray text = contents;
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    const int lastBreak = text.lastIndexOf('\n');
    QByteArray last = lastBreak >= 0 ? text.mid(lastBreak + 1) : text;
    if (last.endsWith('\r'))
        last.chop(1);

    const QString trimmed = QString::fromUtf8(last).trimmed();
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (trimmed.isEmpty() || !ok || !std::isfinite(value))
        Fail(QStringLiteral("Type mismatch"), 13);
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    if (rounded < -32768.0 || rounded > 32767.0)
        Fail(QStringLiteral("Overflow"), 6);
    return static_cast<std::int16_t>(rounded);
}

std::int16_t ReadTypeNumber() {
    QFile file(ProgramFolder() + QStringLiteral("/kestrovaType.dat"));
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("File not found: ") + file.fileName(), 53);
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(file.errorString(), 57);
    return ParseTypeNumber(contents);
}

} // namespace kestrova
