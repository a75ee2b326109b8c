// The viewer password dialog frmEditPasswords ("Edit Password").
#pragma once

#include <QDialog>

class QLineEdit;

namespace kestrova {

class SettingsSync;

class frmEditPasswords : public QDialog {
    Q_OBJECT
  public:
    explicit frmEditPasswords(QWidget* parent = nullptr);

    QLineEdit* txtPassword() const { return txtPassword_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // "Update": the typed password is stored; one that cannot be stored is reported and the
    // old one stays.
    void Update();

    QLineEdit* txtPassword_;
};

// Shows the dialog modally; after it has closed, by either button, the password label shows
// the password in force and the options are synchronised.
void ShowPasswordDialog(QWidget* parent, SettingsSync& sync);

} // namespace kestrova
