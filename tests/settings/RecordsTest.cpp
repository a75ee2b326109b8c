#include "settings/Records.h"

#include <QtEndian>

#include <gtest/gtest.h>

using namespace kestrova;

namespace {
int16_t I16(const QByteArray& b, int offset) {
    return qFromLittleEndian<int16_t>(b.constData() + offset);
}
int32_t I32(const QByteArray& b, int offset) {
    return qFromLittleEndian<int32_t>(b.constData() + offset);
}
} // namespace

TEST(Records, SettingsFieldsSitAtTheirOffsetsLittleEndian) {
    SettingsRecord r;
    r.ReservedText.assign(QStringLiteral("kept"));
    r.SettingsSaved = 0x01020304;
    r.Reserved260 = -2;
    r.Reserved264 = 7;
    r.CameraIndex = -1;
    r.PtzPort = 4321;
    r.LiveListing = 1;
    r.HideThumbnail = 2;
    r.Reserved280 = 3;
    r.JpegQuality = 75;
    r.ZoomEnabled = 4;
    r.SnapshotEnabled = 5;
    r.TimeStampOn = 6;
    r.Reserved292 = 8;
    r.PasswordsEnabled = 9;
    r.PresetsEnabled = 10;
    r.ArchiveEnabled = 11;
    r.ChatEnabled = 12;
    r.Reserved304 = 13;
    r.Reserved306 = -300;

    const QByteArray b = EncodeSettingsRecord(r);
    ASSERT_EQ(b.size(), 308);
    EXPECT_EQ(b.left(4), QByteArray("kept"));
    EXPECT_EQ(b.mid(4, 252), QByteArray(252, ' '));
    EXPECT_EQ(b.mid(256, 4), QByteArray("\x04\x03\x02\x01", 4));
    EXPECT_EQ(I32(b, 260), -2);
    EXPECT_EQ(I32(b, 264), 7);
    EXPECT_EQ(b.mid(268, 2), QByteArray("\xff\xff", 2));
    EXPECT_EQ(I16(b, 274), 4321);
    EXPECT_EQ(I16(b, 276), 1);
    EXPECT_EQ(I16(b, 278), 2);
    EXPECT_EQ(I16(b, 280), 3);
    EXPECT_EQ(I16(b, 282), 75);
    EXPECT_EQ(I16(b, 284), 4);
    EXPECT_EQ(I16(b, 286), 5);
    EXPECT_EQ(I16(b, 288), 6);
    EXPECT_EQ(I16(b, 292), 8);
    EXPECT_EQ(I16(b, 296), 9);
    EXPECT_EQ(I16(b, 298), 10);
    EXPECT_EQ(I16(b, 300), 11);
    EXPECT_EQ(I16(b, 302), 12);
    EXPECT_EQ(I16(b, 304), 13);
    EXPECT_EQ(I16(b, 306), -300);

    // Decoding gives back every field, the reserved ones included.
    EXPECT_EQ(EncodeSettingsRecord(DecodeSettingsRecord(b)), b);
}

TEST(Records, CamChatAndArchiveLayouts) {
    CamRecord cam;
    cam.CameraName.assign(QStringLiteral("Porch"));
    cam.EmailAddress.assign(QStringLiteral("me@example.org"));
    cam.WizardDone = -1;
    const QByteArray c = EncodeCamRecord(cam);
    ASSERT_EQ(c.size(), 514);
    EXPECT_EQ(c.left(5), QByteArray("Porch"));
    EXPECT_EQ(c.mid(5, 251), QByteArray(251, ' '));
    EXPECT_EQ(c.mid(256, 14), QByteArray("me@example.org"));
    EXPECT_EQ(I16(c, 512), -1);

    ChatRecord chat;
    chat.ChatUserName.assign(QStringLiteral("ann"));
    chat.ChatRoomName.assign(QStringLiteral("room%20one"));
    chat.ChatRoomNumber = 123456;
    chat.ChatRoomSet = -1;
    const QByteArray h = EncodeChatRecord(chat);
    ASSERT_EQ(h.size(), 106);
    EXPECT_EQ(h.mid(0, 3), QByteArray("ann"));
    EXPECT_EQ(h.mid(50, 10), QByteArray("room%20one"));
    EXPECT_EQ(I32(h, 100), 123456);
    EXPECT_EQ(I16(h, 104), -1);

    ArchiveRecord a;
    a.DisplayArchive = 1;
    a.ArchiveRateIndex = 6;
    EXPECT_EQ(EncodeArchiveRecord(a), QByteArray("\x01\x00\x06\x00", 4));
}

TEST(Records, ShortInputReadsAsZeros) {
    const SettingsRecord r = DecodeSettingsRecord(QByteArray("\0\0\0\0", 4));
    EXPECT_EQ(r.SettingsSaved, 0);
    EXPECT_EQ(r.JpegQuality, 0);
    EXPECT_EQ(EncodeSettingsRecord(r), QByteArray(308, '\0'));
    const ArchiveRecord a = DecodeArchiveRecord(QByteArray("\x05", 1));
    EXPECT_EQ(a.DisplayArchive, 5);
    EXPECT_EQ(a.ArchiveRateIndex, 0);
}

TEST(FixedTextField, PadsCutsAndNeverSplitsACharacter) {
    FixedText<256> name;
    EXPECT_EQ(QByteArray(name.bytes().data(), 256), QByteArray(256, '\0'));
    EXPECT_TRUE(name.trimmed().isEmpty());

    name.assign(QStringLiteral("abc"));
    EXPECT_EQ(name.text(), QStringLiteral("abc") + QString(253, QLatin1Char(' ')));
    EXPECT_EQ(name.trimmed(), QStringLiteral("abc"));

    name.assign(QString(300, QLatin1Char('x')));
    EXPECT_EQ(name.text(), QString(256, QLatin1Char('x')));

    // 255 ASCII characters and a two-byte character: the latter does not fit and is left out
    // whole; the last byte is a blank.
    name.assign(QString(255, QLatin1Char('a')) + QChar(0x00E9));
    EXPECT_EQ(name.bytes()[255], ' ');
    EXPECT_EQ(name.trimmed(), QString(255, QLatin1Char('a')));

    FixedText<4> small;
    small.assign(QStringLiteral("a\u20ACb")); // 1 + 3 + 1 bytes
    EXPECT_EQ(small.text(), QStringLiteral("a\u20AC"));
    small.assign(QStringLiteral("ab\u20AC")); // the euro sign would need bytes 2 to 4
    EXPECT_EQ(small.text(), QStringLiteral("ab  "));
}
