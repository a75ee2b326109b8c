#include "ui/WebPages.h"

#include "core/AppState.h"
#include "core/Dialogs.h"
#include "core/Text.h"
#include "settings/Deployment.h"
#include "ui/Chat.h"
#include "ui/MainWindowLogic.h"

#include <QDesktopServices>
#include <QUrl>

namespace kestrova {

namespace {

const QString kFolder = QStringLiteral("webcams");

QString TrueFalse(Flag flag) {
    return flag != kFalse ? QStringLiteral("True") : QStringLiteral("False");
}

QString CameraIdText() {
    return App().CameraId.trimmed();
}

QString EncodedCameraName() {
    return UrlEncode(App().Cam.CameraName.trimmed());
}

QString PtzViewerPart(bool ptz) {
    return ptz ? QStringLiteral("&ptz=true&browser=MOZILLA&name=")
               : QStringLiteral("&ptz=false&browser=MOZILLA&name=");
}

bool IsPtz() {
    return App().IsPtzCamera != kFalse;
}

} // namespace

QString PrimaryServiceBase() {
    const Deployment d = ReadDeployment();
    QString host = d.MainHost;
    if (d.MainPort != 80)
        host += QLatin1Char(':') + QString::number(d.MainPort);
    return QStringLiteral("http://") + host;
}

QString SecondaryServiceBase() {
    return QStringLiteral("http://") + ReadDeployment().SecondaryHost;
}

QString ReflectorBase() {
    return QStringLiteral("http://") + App().ReflectorHost.trimmed() + QLatin1Char(':') +
           QString::number(App().ReflectorPort);
}

QString LivePageAddress() {
    return ReflectorBase() + QStringLiteral("/webcams/index.jsp?id=") + CameraIdText() +
           QStringLiteral("&path=") + kFolder + QStringLiteral("&type=") +
           QString::number(App().TypeNumber) + QStringLiteral("&gads=1") + PtzViewerPart(IsPtz()) +
           EncodedCameraName();
}

QString HelpPageAddress() {
    return PrimaryServiceBase() + QStringLiteral("/help/webcams/index.htm");
}

QString CameraAdminAddress() {
    return ReflectorBase() + QStringLiteral("/webcams/admin/index.jsp?id=") + CameraIdText() +
           QStringLiteral("&path=") + kFolder + QStringLiteral("&sphere=") +
           TrueFalse(App().IsLogitechPtz) + QStringLiteral("&gads=1&opticam=") +
           TrueFalse(App().IsPantiltCamera);
}

QString SkinPageAddress() {
    return ReflectorBase() + QStringLiteral("/webcams/admin/index.jsp?id=") + CameraIdText() +
           QStringLiteral("&path=") + kFolder + QStringLiteral("&sphere=") +
           TrueFalse(App().IsLogitechPtz) + QStringLiteral("&skins=true&gads=1") +
           (IsPtz() ? QStringLiteral("&ptz=true") : QStringLiteral("&ptz=false"));
}

QString ArchivePageAddress() {
    return ReflectorBase() + QStringLiteral("/webcams/PassRequiredArchive?id=") + CameraIdText() +
           QStringLiteral("&path=") + kFolder + QStringLiteral("&type=") +
           QString::number(App().TypeNumber) + QStringLiteral("&gads=1") + PtzViewerPart(IsPtz()) +
           EncodedCameraName();
}

QString ProfilePageAddress() {
    return SecondaryServiceBase() + QStringLiteral("/description.php?id=") + CameraIdText();
}

QString LiveListAddress() {
    return SecondaryServiceBase() + QStringLiteral("/livelist.php");
}

QString ListingPageAddress() {
    return SecondaryServiceBase() + QStringLiteral("/livelist.asp");
}

QString ChatPageAddress() {
    const ChatRecord& chat = App().Chat;
    // The login name is encoded like every other typed text, so that no name can add or
    // replace a parameter of the address; the room name is kept encoded already.
    return SecondaryServiceBase() + QStringLiteral("/fchat/chat2.php?path=1&name=") +
           UrlEncode(chat.ChatUserName.trimmed()) + QStringLiteral("&room=") +
           KeepEncoded(chat.ChatRoomName.trimmed()) + QLatin1Char(':') +
           QString::number(chat.ChatRoomNumber);
}

bool ReflectorGuard() {
    if (App().ReflectorRunning != kFalse)
        return true;
    dialogs::MessageBox(
        QStringLiteral("The reflector has not started. Please restart the software and try again."),
        dialogs::Icon::Information);
    return false;
}

void OpenInBrowser(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

void InstallWebPageHandlers(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks) {
    Controls& ui = Ui();
    const auto open = [hooks](const QString& address) { OpenAddress(*hooks, address); };
    ui.MenuBar2.onButtonClick(owner, [open](const ToolButton& button) {
        if (button.key == QLatin1String("live")) {
            if (ReflectorGuard())
                open(LivePageAddress());
        } else if (button.key == QLatin1String("help")) {
            open(HelpPageAddress());
        }
    });
    ui.cmdPtuAdmin.onClick(owner, [open] {
        if (ReflectorGuard())
            open(CameraAdminAddress());
    });
    ui.cmdSkin.onClick(owner, [open] {
        if (ReflectorGuard())
            open(SkinPageAddress());
    });
    ui.cmdViewArchive.onClick(owner, [open] { open(ArchivePageAddress()); });
    ui.cmdSetProfile.onClick(owner, [open] {
        // The profile exists on the listing only while the station is posted there.
        if (App().PostingActive != kFalse)
            open(ProfilePageAddress());
    });
    ui.pctSettings.onClick(owner, [open] { open(LiveListAddress()); });
}

} // namespace kestrova
