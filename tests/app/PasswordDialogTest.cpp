// The viewer password dialog.
#include "core/AppState.h"
#include "core/Controls.h"
#include "service/Sync.h"
#include "settings/Password.h"
#include "support/TestSupport.h"
#include "ui/Passwords.h"

#include <QApplication>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kestrova;

namespace {

// Answers the dialog once it shows: types `text` (unless null) and presses the button.
void AnswerDialog(const QString& text, const char* button) {
    QTimer::singleShot(0, [text, button] {
        auto* dialog = qobject_cast<frmEditPasswords*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Edit Password"));
        EXPECT_EQ(dialog->txtPassword()->text(), getPassword()) << "filled when it shows";
        if (!text.isNull())
            dialog->txtPassword()->setText(text);
        dialog->findChild<QPushButton*>(QLatin1String(button))->click();
    });
}

TEST(PasswordDialog, UpdateStoresCancelDoesNotAndBothRefreshTheLabelAndSynchronise) {
    test::StationFixture fixture;
    fixture.useDataFolder();
    // The relay side runs: each synchronisation is a connection to the relay.
    QTcpServer relay;
    ASSERT_TRUE(relay.listen(QHostAddress::LocalHost));
    int syncs = 0;
    QObject::connect(&relay, &QTcpServer::newConnection, [&] {
        ++syncs;
        delete relay.nextPendingConnection();
    });
    App().ReflectorRunning = kTrue;
    App().ReflectorHost = QStringLiteral("127.0.0.1");
    App().ReflectorPort = static_cast<std::int16_t>(relay.serverPort());
    SettingsSync sync;

    AnswerDialog(QStringLiteral(" open sesame "), "cmdOK");
    ShowPasswordDialog(nullptr, sync);
    EXPECT_EQ(getPassword(), QStringLiteral("open sesame"));
    EXPECT_EQ(Ui().lblPassword.value(), QStringLiteral("open sesame"));
    EXPECT_EQ(syncs, 1);

    AnswerDialog(QStringLiteral("ignored"), "cmdCancel");
    Ui().lblPassword.set(QString());
    ShowPasswordDialog(nullptr, sync);
    EXPECT_EQ(getPassword(), QStringLiteral("open sesame"));
    EXPECT_EQ(Ui().lblPassword.value(), QStringLiteral("open sesame"));
    EXPECT_EQ(syncs, 2);
}

} // namespace
