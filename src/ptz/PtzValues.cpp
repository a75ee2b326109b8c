#include "ptz/PtzValues.h"

#include "core/AppError.h"

#include <limits>

namespace kestrova {

namespace {

[[noreturn]] void Overflow() {
    throw AppError(QStringLiteral("Overflow"), kOverflowError, QStringLiteral("webcam"));
}

[[noreturn]] void TypeMismatch() {
    throw AppError(QStringLiteral("Type mismatch"), kTypeMismatchError, QStringLiteral("webcam"));
}

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

std::int64_t ParseWithin(const QString& text, std::int64_t lowest, std::int64_t highest) {
    int begin = 0;
    int end = static_cast<int>(text.size());
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    bool negative = false;
    if (begin < end && (text[begin] == QLatin1Char('-') || text[begin] == QLatin1Char('+'))) {
        negative = text[begin] == QLatin1Char('-');
        ++begin;
    }
    if (begin == end)
        TypeMismatch();
    std::int64_t magnitude = 0;
    bool overflow = false;
    for (int i = begin; i < end; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            TypeMismatch();
        // The magnitude stops growing once it is out of range; the digits are still checked.
        if (!overflow) {
            magnitude = magnitude * 10 + (c.unicode() - '0');
            overflow = magnitude > highest + 1;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (overflow || value < lowest || value > highest)
        Overflow();
    return value;
}

} // namespace

std::int32_t AddLong(std::int64_t a, std::int64_t b) {
    const std::int64_t sum = a + b;
    if (sum < std::numeric_limits<std::int32_t>::min() ||
        sum > std::numeric_limits<std::int32_t>::max())
        Overflow();
    return static_cast<std::int32_t>(sum);
}

std::int32_t AbsLong(std::int32_t value) {
    if (value == std::numeric_limits<std::int32_t>::min())
        Overflow();
    return value < 0 ? -value : value;
}

std::int16_t ToInteger(std::int64_t value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        Overflow();
    return static_cast<std::int16_t>(value);
}

std::int32_t ParseLong(const QString& text) {
    return static_cast<std::int32_t>(ParseWithin(text, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

std::int16_t ParseInteger(const QString& text) {
    return static_cast<std::int16_t>(ParseWithin(text, std::numeric_limits<std::int16_t>::min(),
                                                 std::numeric_limits<std::int16_t>::max()));
}

QStringList PresetPieces(const QString& packet) {
    QString text;
    if (packet.contains(QLatin1String("GET"))) {
        // "GET /Preset_" is twelve characters; the request line goes on after a blank.
        text = packet.mid(12);
        const qsizetype blank = text.indexOf(QLatin1Char(' '));
        if (blank >= 0)
            text.truncate(blank);
    } else {
        text = packet.mid(7);
    }
    return text.split(QLatin1Char(':'));
}

const QString& PresetPiece(const QStringList& pieces, int index) {
    if (index >= pieces.size())
        throw AppError(QStringLiteral("Subscript out of range"), kSubscriptError,
                       QStringLiteral("webcam"));
    return pieces[index];
}

} // namespace kestrova
