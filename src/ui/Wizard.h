// The broadcast wizard frmWizard: three pages in which the broadcaster names the camera for
// the live listing and may give an e-mail address. Start-up shows it until it has once been
// finished; "Edit Cam Name" shows it again.
#pragma once

#include "core/AppError.h"
#include "core/Controls.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

namespace kestrova {

// The wizard's work, apart from its window: the page counter, the buttons' states and the
// two text boxes.
class BroadcastWizard {
  public:
    // Page 0 shown, "< Back" and "Finish" disabled; the name box reads "Kestrova Webcam".
    BroadcastWizard();
    BroadcastWizard(const BroadcastWizard&) = delete;
    BroadcastWizard& operator=(const BroadcastWizard&) = delete;

    int page() const { return page_; }
    bool closed() const { return closed_; }

    // Page 0: fills the boxes from the stored values. Page 1: refuses an empty name, else
    // stores both texts and saves cam.dat (throws AppError when it cannot be written).
    void Next();
    void Back();
    // Marks the wizard done and closes it.
    void Finish();
    // Closes it; what Next stored stays stored.
    void Cancel();

    // Runs when the wizard closes (Finish or Cancel).
    std::function<void()> onClose;

    Button cmdBack;
    Button cmdNext;
    Button cmdFinish;
    Button cmdCancel;
    Label txtCamName;      // the text box's text
    Label txtEmailAddress; // the text box's text
    std::array<Area, 3> pages;

  private:
    void ShowPage(int page);
    void Close();

    int page_ = 0;
    bool closed_ = false;
};

class frmWizard : public QDialog {
    Q_OBJECT
  public:
    explicit frmWizard(BroadcastWizard& wizard, QWidget* parent = nullptr);

    // Closing the window any other way than by its buttons cancels the wizard.
    void reject() override;

    // A save that failed while the window's buttons were handled; rethrown once the wizard
    // has closed, by whoever showed it.
    const std::optional<AppError>& error() const { return error_; }

  private:
    void Run(const std::function<void()>& step);

    BroadcastWizard& wizard_;
    std::optional<AppError> error_;
    HandlerOwner alive_ = std::make_shared<int>();
};

// Shows the wizard modally (over `parent`). Unattended, nobody can answer: the wizard takes
// its defaults, stores them and finishes without showing. Throws AppError when cam.dat could
// not be written.
void ShowBroadcastWizard(QWidget* parent = nullptr);

} // namespace kestrova
