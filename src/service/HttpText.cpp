#include "service/HttpText.h"

#include <cstdint>
#include <limits>

namespace kestrova {

namespace {

bool IsHexDigit(char c, unsigned* value) {
    if (c >= '0' && c <= '9')
        *value = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
        *value = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        *value = static_cast<unsigned>(c - 'A' + 10);
    else
        return false;
    return true;
}

} // namespace

ServiceAnswer SplitAnswer(const QByteArray& answer) {
    ServiceAnswer result;
    const qsizetype blank = answer.indexOf("\r\n\r\n");
    if (blank < 0)
        return result;
    result.headers = answer.left(blank + 2);
    result.body = answer.mid(blank + 4);
    if (GetHeaderValue(result.headers, QByteArrayLiteral("Transfer-Encoding")) == "chunked") {
        std::optional<QByteArray> decoded = DecodeChunked(result.body);
        if (!decoded)
            return result;
        result.body = std::move(*decoded);
    }
    result.ok = true;
    return result;
}

QByteArray GetHeaderValue(const QByteArray& headers, const QByteArray& name) {
    const QByteArray key = QByteArrayLiteral("\r\n") + name + QByteArrayLiteral(": ");
    const qsizetype at = headers.indexOf(key);
    if (at < 0)
        return QByteArray();
    const qsizetype start = at + key.size();
    qsizetype end = headers.indexOf("\r\n", start);
    if (end < 0)
        end = headers.size();
    return headers.mid(start, end - start);
}

std::optional<QByteArray> DecodeChunked(const QByteArray& body) {
    QByteArray out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype eol = body.indexOf("\r\n", pos);
        const qsizetype lineEnd = eol < 0 ? body.size() : eol;
        qsizetype i = pos;
        while (i < lineEnd && (body[i] == ' ' || body[i] == '\t'))
            ++i;
        // The size: hexadecimal digits up to the first other character (a chunk extension
        // after ";" is ignored).
        std::uint64_t size = 0;
        int digits = 0;
        unsigned digit = 0;
        for (; i < lineEnd && IsHexDigit(body[i], &digit); ++i, ++digits) {
            if (size > (std::numeric_limits<std::uint64_t>::max() >> 4))
                return std::nullopt;
            size = (size << 4) | digit;
        }
        if (digits == 0)
            return std::nullopt;
        if (size == 0)
            return out; // the last chunk; trailer lines are ignored
        if (eol < 0)
            return std::nullopt;
        const qsizetype dataStart = eol + 2;
        if (size > static_cast<std::uint64_t>(body.size() - dataStart))
            return std::nullopt;
        const auto length = static_cast<qsizetype>(size);
        out.append(body.constData() + dataStart, length);
        pos = dataStart + length;
        if (body.size() - pos < 2 || body[pos] != '\r' || body[pos + 1] != '\n')
            return std::nullopt;
        pos += 2;
    }
}

} // namespace kestrova
