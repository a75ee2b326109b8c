#include "ui/Chat.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/Dialogs.h"
#include "core/Text.h"
#include "ui/MainWindowLogic.h"
#include "ui/WebPages.h"

#include <QByteArray>
#include <QUrl>

#include <optional>

namespace kestrova {

namespace {

const QString kDefaultRoom = QStringLiteral("Kestrova Chat");
const QString kDefaultLogin = QStringLiteral("Admin");

bool IsHex(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

bool IsKept(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

// The answer of an input box titled "Kestrova"; cancelling it answers the empty text.
QString Ask(const QString& prompt) {
    return dialogs::InputBox(prompt).value_or(QString());
}

// A fixed field that was never written holds only NUL characters.
template <std::size_t N> bool NeverWritten(const FixedText<N>& field) {
    for (const char c : field.bytes()) {
        if (c != 0)
            return false;
    }
    return true;
}

void StoreLoginName(const QString& name) {
    App().Chat.ChatUserName = name;
    Ui().lblChatUsername.set(App().Chat.ChatUserName.trimmed());
}

void StoreRoomName(const QString& typed) {
    Ui().lblRoomName.set(typed);
    App().Chat.ChatRoomName = EncodedRoomName(typed);
}

void ChatSwitchChanged(const UiHooks& hooks) {
    Controls& ui = Ui();
    AppState& s = App();
    const short on = ui.chkChatOnOff.value();
    if (on == 1) {
        // The room is named once, the first time the chat is switched on.
        if (s.Chat.ChatRoomSet == kFalse) {
            QString room = Ask(QStringLiteral("Choose a name for your chat room"));
            if (room.isEmpty())
                room = kDefaultRoom;
            StoreRoomName(room);
            s.Chat.ChatRoomSet = kTrue;
            s.Chat.ChatRoomNumber = s.Settings.SettingsSaved;
            Synchronize(hooks);
        }
        ui.cmdLaunchChatBox.setEnabled(true);
    } else {
        ui.cmdLaunchChatBox.setEnabled(false);
    }
    s.Settings.ChatEnabled = on;
    Synchronize(hooks);
}

void EditChatName() {
    QString name = Ask(QStringLiteral("Choose your login name"));
    if (name.isEmpty()) {
        const FixedText<50>& current = App().Chat.ChatUserName;
        name = NeverWritten(current) ? kDefaultLogin : current.trimmed();
    }
    StoreLoginName(name);
}

void EditRoomName(const UiHooks& hooks) {
    QString room = Ask(QStringLiteral("Choose your Room name"));
    if (room.isEmpty())
        room = Ui().lblRoomName.value();
    if (room.isEmpty())
        room = kDefaultRoom;
    StoreRoomName(room);
    Synchronize(hooks);
}

void LaunchChatBox(const UiHooks& hooks) {
    if (NeverWritten(App().Chat.ChatUserName)) {
        QString name = Ask(QStringLiteral("Choose your login name"));
        if (name.isEmpty())
            name = kDefaultLogin;
        StoreLoginName(name);
    }
    OpenAddress(hooks, ChatPageAddress());
}

} // namespace

QString EncodedRoomName(const QString& typed) {
    QString out;
    const QList<uint> characters = typed.toUcs4();
    for (const uint c : characters) {
        const char32_t code = c;
        const QString piece = UrlEncode(QString::fromUcs4(&code, 1));
        if (out.size() + piece.size() > kRoomNameLength)
            break;
        out += piece;
    }
    return out;
}

QString KeepEncoded(const QString& stored) {
    QString out;
    for (int i = 0; i < stored.size(); ++i) {
        const QChar c = stored[i];
        if (IsKept(c)) {
            out += c;
        } else if (c == QLatin1Char('%') && i + 2 < stored.size() && IsHex(stored[i + 1]) &&
                   IsHex(stored[i + 2])) {
            out += stored.mid(i, 3);
            i += 2;
        } else if (c.isHighSurrogate() && i + 1 < stored.size()) {
            out += UrlEncode(stored.mid(i, 2));
            ++i;
        } else {
            out += UrlEncode(QString(c));
        }
    }
    return out;
}

QString ShownRoomName() {
    return QUrl::fromPercentEncoding(App().Chat.ChatRoomName.trimmed().toUtf8());
}

void InstallChatHandlers(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks) {
    Controls& ui = Ui();
    ui.chkChatOnOff.onChange(owner, [hooks] { ChatSwitchChanged(*hooks); });
    ui.butEditChatName.onClick(owner, [] { EditChatName(); });
    ui.butEditRoomName.onClick(owner, [hooks] { EditRoomName(*hooks); });
    ui.cmdLaunchChatBox.onClick(owner, [hooks] { LaunchChatBox(*hooks); });
}

} // namespace kestrova
