#include "ui/Passwords.h"

#include "core/AppError.h"
#include "core/Controls.h"
#include "core/Dialogs.h"
#include "service/Sync.h"
#include "settings/Password.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace kestrova {

frmEditPasswords::frmEditPasswords(QWidget* parent) : QDialog(parent), txtPassword_(new QLineEdit) {
    setObjectName(QStringLiteral("frmEditPasswords"));
    setWindowTitle(QStringLiteral("Edit Password"));
    setModal(true);
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    txtPassword_->setMaxLength(256);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Password:"), txtPassword_);
    auto* buttons = new QDialogButtonBox;
    QPushButton* update =
        buttons->addButton(QStringLiteral("Update"), QDialogButtonBox::AcceptRole);
    update->setObjectName(QStringLiteral("cmdOK"));
    update->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    form->addRow(buttons);
    connect(update, &QPushButton::clicked, this, [this] { Update(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmEditPasswords::showEvent(QShowEvent* event) {
    txtPassword_->setText(getPassword());
    QDialog::showEvent(event);
}

void frmEditPasswords::Update() {
    try {
        setPassword(txtPassword_->text());
    } catch (const AppError& e) {
        dialogs::MessageBox(QStringLiteral("The password could not be stored, so the old one "
                                           "stays in force:\r\n") +
                                e.description(),
                            dialogs::Icon::Warning);
    }
    accept();
}

void ShowPasswordDialog(QWidget* parent, SettingsSync& sync) {
    // On the heap: should the parent window go while the dialog runs (the station closing),
    // the dialog goes with it and must not be deleted twice.
    QPointer<frmEditPasswords> dialog = new frmEditPasswords(parent);
    dialog->exec();
    delete dialog.data();
    Ui().lblPassword.set(getPassword());
    sync.Synchronize();
}

} // namespace kestrova
