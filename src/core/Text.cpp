#include "core/Text.h"

#include <QByteArray>
#include <QRandomGenerator>

namespace kestrova {

QString UrlEncode(const QString& text) {
    static const char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')) {
            out += QLatin1Char(c);
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(kHex[u >> 4]);
            out += QLatin1Char(kHex[u & 0x0F]);
        }
    }
    return out;
}

QString RandomAlphaNumeric(int length) {
    static const char kAlphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    constexpr int kAlphabetSize = sizeof(kAlphabet) - 1;
    // Qt's global generator is seeded once per process from the system's entropy source.
    QRandomGenerator* generator = QRandomGenerator::global();
    QString out;
    out.reserve(length > 0 ? length : 0);
    for (int i = 0; i < length; ++i)
        out += QLatin1Char(kAlphabet[generator->bounded(kAlphabetSize)]);
    return out;
}

} // namespace kestrova
