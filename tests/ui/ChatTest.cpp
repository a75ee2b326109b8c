// The chat room: its switch, the room and login names and the chat page's address.
#include "UiTestSupport.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/Text.h"
#include "ui/Chat.h"

namespace kestrova::test {
namespace {

const QString kRoomPrompt = QStringLiteral("Choose a name for your chat room");
const QString kLoginPrompt = QStringLiteral("Choose your login name");

class ChatTest : public UiTest {};

TEST_F(ChatTest, TheFirstSwitchOnNamesTheRoomOnceAndEnablesTheChatBox) {
    Controls& ui = Ui();
    EXPECT_FALSE(ui.cmdLaunchChatBox.enabled());
    answerInputs({QString()}); // an empty answer
    ui.chkChatOnOff.set(1);
    EXPECT_EQ(inputPrompts(), QStringList{kRoomPrompt});
    EXPECT_EQ(ui.lblRoomName.value(), QStringLiteral("Kestrova Chat"));
    EXPECT_EQ(App().Chat.ChatRoomName.trimmed(), QStringLiteral("Kestrova%20Chat"));
    EXPECT_EQ(App().Chat.ChatRoomSet, kTrue);
    EXPECT_EQ(App().Chat.ChatRoomNumber, App().Settings.SettingsSaved);
    EXPECT_EQ(App().Settings.ChatEnabled, 1);
    EXPECT_TRUE(ui.cmdLaunchChatBox.enabled());
    EXPECT_EQ(syncs_, 2); // the new room, then the switch

    ui.chkChatOnOff.set(0);
    EXPECT_FALSE(ui.cmdLaunchChatBox.enabled());
    EXPECT_EQ(App().Settings.ChatEnabled, 0);
    ui.chkChatOnOff.set(1);
    EXPECT_EQ(inputPrompts().size(), 1); // not asked again
    EXPECT_EQ(syncs_, 4);
}

TEST_F(ChatTest, StoredRoomNamesAreEncodedAndCutWithoutSplittingAnEscapeOrACharacter) {
    const QString cyrillic = QStringLiteral("Комната для друзей и гостей");
    const struct {
        QString typed;
        QString stored;
    } cases[] = {
        {QStringLiteral("Tom's \"Room\" & Co"), QStringLiteral("Tom%27s%20%22Room%22%20%26%20Co")},
        {QString(300, QLatin1Char('a')), QString(50, QLatin1Char('a'))},
        // "%20" would not fit after 48 letters: the name stops before it.
        {QString(48, QLatin1Char('b')) + QStringLiteral(" c"), QString(48, QLatin1Char('b'))},
        // A Cyrillic letter is six characters encoded: the first word and the space fit.
        {cyrillic, UrlEncode(cyrillic.left(8))},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodedRoomName(c.typed), c.stored) << c.typed.toStdString();
        answerInputs({c.typed});
        Ui().butEditRoomName.click();
        EXPECT_EQ(App().Chat.ChatRoomName.trimmed(), c.stored);
        EXPECT_EQ(Ui().lblRoomName.value(), c.typed);
    }
    EXPECT_EQ(syncs_, 4);
    EXPECT_EQ(App().Chat.ChatRoomSet, kFalse); // the Edit button leaves the switch's state
}

TEST_F(ChatTest, AnEmptyRoomNameKeepsTheShownNameWithoutEncodingItTwice) {
    App().Chat.ChatRoomName = QStringLiteral("Kestrova%20Chat");
    Ui().Settings[2].set(3); // the Chat sub-tab shows the stored name
    answerInputs({QString()});
    Ui().butEditRoomName.click();
    EXPECT_EQ(App().Chat.ChatRoomName.trimmed(), QStringLiteral("Kestrova%20Chat"));

    Ui().lblRoomName.set(QString()); // nothing shown: the default room
    answerInputs({QString()});
    Ui().butEditRoomName.click();
    EXPECT_EQ(Ui().lblRoomName.value(), QStringLiteral("Kestrova Chat"));
}

TEST_F(ChatTest, AnEmptyLoginNameGivesAdminOnlyWhileNoneWasEverChosen) {
    answerInputs({QString()});
    Ui().butEditChatName.click();
    EXPECT_EQ(App().Chat.ChatUserName.trimmed(), QStringLiteral("Admin"));
    answerInputs({QStringLiteral("Zoë & \"friends\"")});
    Ui().butEditChatName.click();
    EXPECT_EQ(Ui().lblChatUsername.value(), QStringLiteral("Zoë & \"friends\""));
    answerInputs({QString()});
    Ui().butEditChatName.click(); // keeps the current name
    EXPECT_EQ(App().Chat.ChatUserName.trimmed(), QStringLiteral("Zoë & \"friends\""));
    // A long name keeps what fits of its 50 bytes, whole characters only.
    answerInputs({QString(300, QChar(0x00E9))});
    Ui().butEditChatName.click();
    EXPECT_EQ(App().Chat.ChatUserName.trimmed(), QString(25, QChar(0x00E9)));
    EXPECT_EQ(syncs_, 0);
    EXPECT_EQ(inputPrompts(), QStringList(4, kLoginPrompt));
}

TEST_F(ChatTest, TheChatPageAsksForALoginFirstAndEncodesWhatWasTyped) {
    answerInputs({QString()});
    Ui().chkChatOnOff.set(1);
    Ui().cmdLaunchChatBox.click();
    EXPECT_EQ(inputPrompts(), (QStringList{kRoomPrompt, kLoginPrompt}));
    EXPECT_EQ(Ui().lblChatUsername.value(), QStringLiteral("Admin"));

    answerInputs({QStringLiteral("Jo Bloggs&room=x")});
    Ui().butEditChatName.click();
    Ui().cmdLaunchChatBox.click();
    EXPECT_EQ(inputPrompts().size(), 3); // a login was chosen: not asked again
    const QString base = QStringLiteral("http://list.example:81/fchat/chat2.php?path=1&name=");
    EXPECT_EQ(opened_, (QStringList{base + QStringLiteral("Admin&room=Kestrova%20Chat:1"),
                                    base + QStringLiteral("Jo%20Bloggs%26room%3Dx&room=Kestrova"
                                                          "%20Chat:1")}));
}

TEST_F(ChatTest, AStoredRoomNameThatIsNotEncodedCannotBreakTheAddress) {
    EXPECT_EQ(KeepEncoded(QStringLiteral("Kestrova%20Chat")), QStringLiteral("Kestrova%20Chat"));
    EXPECT_EQ(KeepEncoded(QStringLiteral("a&b c%2")), QStringLiteral("a%26b%20c%252"));
}

} // namespace
} // namespace kestrova::test
