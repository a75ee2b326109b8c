// Answer splitting, header look-up, chunked decoding, URL encoding and the random strings.
#include "core/AppState.h"
#include "core/Text.h"
#include "service/WebRequest.h"
#include "support/TestSupport.h"

#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

using namespace kestrova;

namespace {

QByteArray Chunked(const QList<QByteArray>& sizeLinesAndData) {
    QByteArray out;
    for (const QByteArray& part : sizeLinesAndData)
        out += part + "\r\n";
    return out;
}

} // namespace

TEST(DecodeChunked, JoinsTheChunksUpToTheLastOne) {
    EXPECT_EQ(DecodeChunked(Chunked({"4", "Wiki", "5", "pedia", "0", ""})),
              QByteArray("Wikipedia"));
    // Sizes in either case; extensions after ";" ignored; trailer lines after the last chunk
    // ignored.
    EXPECT_EQ(DecodeChunked(Chunked({"1a;ext=1", QByteArray(26, 'x'), "0", "Trailer: yes", ""})),
              QByteArray(26, 'x'));
    EXPECT_EQ(DecodeChunked(Chunked({"A", "0123456789", "b", "abcdefghijk", "0", ""})),
              QByteArray("0123456789abcdefghijk"));
    // A body of no chunk at all.
    EXPECT_EQ(DecodeChunked(Chunked({"0", ""})), QByteArray());
    // Chunk data may hold CR LF and bytes of any value.
    const QByteArray binary("\r\n\0\xff\r\n", 6);
    EXPECT_EQ(DecodeChunked(Chunked({"6", binary, "0", ""})), binary);
}

TEST(DecodeChunked, ReadsSizesAboveSixteenBits) {
    QByteArray big(0x7FFF + 1234, 'a');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    const QByteArray sizeLine = QByteArray::number(static_cast<qlonglong>(big.size()), 16);
    EXPECT_EQ(DecodeChunked(Chunked({sizeLine, big, "0", ""})), big);

    QByteArray huge(0x12345, 'z');
    EXPECT_EQ(DecodeChunked(Chunked({"12345", huge, "3", "end", "0", ""})), huge + "end");
}

TEST(DecodeChunked, RefusesMalformedBodies) {
    // A chunk longer than the body holds.
    EXPECT_FALSE(DecodeChunked(Chunked({"10", "short", "0", ""})));
    EXPECT_FALSE(DecodeChunked(Chunked({"7FFFFFFFFFFFFFFF", "x", "0", ""})));
    // A size that does not fit any count of bytes.
    EXPECT_FALSE(DecodeChunked(Chunked({"FFFFFFFFFFFFFFFFFFFF", "x", "0", ""})));
    // No size at all.
    EXPECT_FALSE(DecodeChunked(Chunked({"zz", "data", "0", ""})));
    EXPECT_FALSE(DecodeChunked(Chunked({";ext", "data", "0", ""})));
    EXPECT_FALSE(DecodeChunked(QByteArray()));
    // Chunk data not followed by CR LF.
    EXPECT_FALSE(DecodeChunked("4\r\nWikiXX5\r\npedia\r\n0\r\n\r\n"));
    // The body ends before its last chunk.
    EXPECT_FALSE(DecodeChunked("4\r\nWiki\r\n"));
    EXPECT_FALSE(DecodeChunked("4\r\nWi"));
    EXPECT_FALSE(DecodeChunked("4"));
}

TEST(DecodeChunked, EndsOnEveryBodyAndNeverGivesMoreThanItHolds) {
    // Random bodies made of size digits, line ends and extension marks: every one must end
    // with a result no longer than the body or a refusal. Both outcomes must turn up.
    QRandomGenerator random(20240607);
    const QByteArray alphabet = "0123456789abcdefABCDEF;\r\n\r\n\r\nxz ";
    int decoded = 0;
    int refused = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray body(static_cast<qsizetype>(random.bounded(1, 40)), '\0');
        for (char& c : body)
            c = alphabet[random.bounded(static_cast<int>(alphabet.size()))];
        const auto result = DecodeChunked(body);
        if (result) {
            ++decoded;
            EXPECT_LE(result->size(), body.size()) << body.toPercentEncoding().constData();
        } else {
            ++refused;
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
}

TEST(SplitServiceAnswer, SplitsAtTheFirstBlankLineAndKeepsTheHeaders) {
    test::StationFixture fixture;
    const QByteArray answer = "HTTP/1.1 200 OK\r\nX-One: 1\r\n\r\nline1\r\n\r\nline3";
    const ServiceAnswer split = SplitServiceAnswer(answer);
    ASSERT_TRUE(split.ok);
    EXPECT_EQ(split.headers, QByteArray("HTTP/1.1 200 OK\r\nX-One: 1\r\n"));
    EXPECT_EQ(split.body, QByteArray("line1\r\n\r\nline3"));
    EXPECT_EQ(App().LastResponseHeaders, split.headers);

    const ServiceAnswer empty = SplitServiceAnswer("HTTP/1.1 204 No Content\r\n\r\n");
    ASSERT_TRUE(empty.ok);
    EXPECT_TRUE(empty.body.isEmpty());

    const ServiceAnswer none = SplitServiceAnswer("HTTP/1.1 200 OK\r\nno end of headers");
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(App().LastResponseHeaders, empty.headers) << "a failed split keeps the last headers";
}

TEST(SplitServiceAnswer, DecodesAChunkedBodyOnlyWhenTheHeaderSaysSoExactly) {
    test::StationFixture fixture;
    const QByteArray chunkedBody = "4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n";
    const ServiceAnswer decoded =
        SplitServiceAnswer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.body, QByteArray("Wikipedia"));

    // The header name in lower case is not the header: the body stays as it came.
    const ServiceAnswer lower =
        SplitServiceAnswer("HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n" + chunkedBody);
    ASSERT_TRUE(lower.ok);
    EXPECT_EQ(lower.body, chunkedBody);
    // So is a value other than "chunked".
    const ServiceAnswer other =
        SplitServiceAnswer("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + chunkedBody);
    EXPECT_EQ(other.body, chunkedBody);

    // A chunked body that cannot be decoded fails the split.
    EXPECT_FALSE(SplitServiceAnswer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                    "8000\r\nshort\r\n0\r\n\r\n")
                     .ok);
}

TEST(GetHeaderValue, FindsExactNamesAfterALineEnd) {
    const QByteArray headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Empty: \r\n"
                               "Server: fake\r\n";
    EXPECT_EQ(GetHeaderValue(headers, "Content-Type"), QByteArray("text/plain"));
    EXPECT_EQ(GetHeaderValue(headers, "Server"), QByteArray("fake"));
    EXPECT_EQ(GetHeaderValue(headers, "X-Empty"), QByteArray());
    EXPECT_EQ(GetHeaderValue(headers, "content-type"), QByteArray());
    EXPECT_EQ(GetHeaderValue(headers, "Missing"), QByteArray());
    // The status line is never a header, even when it looks like one.
    EXPECT_EQ(GetHeaderValue("HTTP: 1\r\nOther: 2\r\n", "HTTP"), QByteArray());
    // A last line without its CR LF still gives its value.
    EXPECT_EQ(GetHeaderValue("HTTP/1.1 200 OK\r\nLast: value", "Last"), QByteArray("value"));
}

TEST(UrlEncode, KeepsLettersAndDigitsAndEscapesEveryOtherByte) {
    EXPECT_EQ(UrlEncode(QStringLiteral("a b/X~")), QStringLiteral("a%20b%2FX%7E"));
    EXPECT_EQ(UrlEncode(QStringLiteral("\t")), QStringLiteral("%09"));
    EXPECT_EQ(UrlEncode(QStringLiteral("-._~+&=%")), QStringLiteral("%2D%2E%5F%7E%2B%26%3D%25"));
    EXPECT_EQ(UrlEncode(QStringLiteral("AZaz09")), QStringLiteral("AZaz09"));
    // Characters beyond ASCII: each byte of their UTF-8 form.
    EXPECT_EQ(UrlEncode(QStringLiteral("\u00e9")), QStringLiteral("%C3%A9"));
    EXPECT_EQ(UrlEncode(QStringLiteral("\u20ac1")), QStringLiteral("%E2%82%AC1"));
    EXPECT_EQ(UrlEncode(QString()), QString());
}

TEST(RandomAlphaNumeric, GivesLettersAndDigitsThatDoNotRepeat) {
    const QString s = RandomAlphaNumeric(32);
    ASSERT_EQ(s.size(), 32);
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        EXPECT_TRUE((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
            << "unexpected character " << u;
    }
    EXPECT_TRUE(RandomAlphaNumeric(0).isEmpty());

    // Many boundaries drawn in the same second are all different.
    QSet<QString> seen;
    for (int i = 0; i < 1000; ++i)
        seen.insert(RandomAlphaNumeric(32));
    EXPECT_EQ(seen.size(), 1000);

    // Every one of the 62 characters turns up.
    QSet<QChar> characters;
    const QString many = RandomAlphaNumeric(20000);
    for (const QChar c : many)
        characters.insert(c);
    EXPECT_EQ(characters.size(), 62);
}
