#include "ui/Wizard.h"

#include "core/AppState.h"
#include "core/Dialogs.h"
#include "settings/DataFolder.h"
#include "settings/Settings.h"
#include "ui/Artwork.h"
#include "ui/Binding.h"
#include "ui/WebPages.h"

#include <QApplication>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrova {

namespace {

// A fixed field that was never written holds only NUL characters.
template <std::size_t N> bool EverWritten(const FixedText<N>& field) {
    for (const char c : field.bytes()) {
        if (c != 0)
            return true;
    }
    return false;
}

} // namespace

BroadcastWizard::BroadcastWizard()
    : cmdBack(QStringLiteral("< Back")), cmdNext(QStringLiteral("Next >")),
      cmdFinish(QStringLiteral("Finish")), cmdCancel(QStringLiteral("Cancel")),
      txtCamName(QStringLiteral("Kestrova Webcam")) {
    cmdBack.setEnabled(false);
    cmdFinish.setEnabled(false);
    pages[1].setVisible(false);
    pages[2].setVisible(false);
}

void BroadcastWizard::ShowPage(int page) {
    pages[static_cast<std::size_t>(page_)].setVisible(false);
    page_ = page;
    pages[static_cast<std::size_t>(page_)].setVisible(true);
}

void BroadcastWizard::Next() {
    const CamRecord& cam = App().Cam;
    switch (page_) {
    case 0:
        if (EverWritten(cam.CameraName))
            txtCamName.set(cam.CameraName.trimmed());
        if (EverWritten(cam.EmailAddress))
            txtEmailAddress.set(cam.EmailAddress.trimmed());
        ShowPage(1);
        cmdBack.setEnabled(true);
        break;
    case 1: {
        const QString name = txtCamName.value();
        if (name.isEmpty() || name == QLatin1String(" ")) {
            dialogs::MessageBox(QStringLiteral("Please enter a name for your camera."),
                                dialogs::Icon::None);
            return;
        }
        // As typed; the fields keep what fits of it without cutting a character.
        App().Cam.CameraName = name;
        App().Cam.EmailAddress = txtEmailAddress.value();
        SaveCamFile();
        ShowPage(2);
        cmdNext.setEnabled(false);
        cmdFinish.setEnabled(true);
        break;
    }
    default:
        break;
    }
}

void BroadcastWizard::Back() {
    if (page_ == 0)
        return;
    const int from = page_;
    ShowPage(page_ - 1);
    if (page_ == 0)
        cmdBack.setEnabled(false);
    if (from == 2) {
        cmdNext.setEnabled(true);
        cmdFinish.setEnabled(false);
    }
}

void BroadcastWizard::Finish() {
    App().Cam.WizardDone = kTrue;
    Close();
}

void BroadcastWizard::Cancel() {
    Close();
}

void BroadcastWizard::Close() {
    if (closed_)
        return;
    closed_ = true;
    if (onClose)
        onClose();
}

namespace {

QLabel* Text(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QWidget* Page(Area& area, const char* name, const QString& heading) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(heading);
    title->setObjectName(QStringLiteral("heading"));
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    title->setFont(font);
    column->addWidget(title);
    column->addSpacing(8);
    BindVisible(page, area);
    return page;
}

QPushButton* WizardButton(const char* name, Button& control) {
    auto* button = new QPushButton;
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    Bind(button, control);
    return button;
}

} // namespace

frmWizard::frmWizard(BroadcastWizard& wizard, QWidget* parent) : QDialog(parent), wizard_(wizard) {
    setObjectName(QStringLiteral("frmWizard"));
    setWindowTitle(QStringLiteral("Kestrova: Broadcast Wizard"));
    setModal(true);

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    auto* side = new QLabel;
    side->setObjectName(QStringLiteral("sidePicture"));
    side->setPixmap(WizardSidePicture(QSize(150, 330)));
    side->setFixedSize(150, 330);
    body->addWidget(side);

    auto* pagesColumn = new QVBoxLayout;
    pagesColumn->setContentsMargins(20, 18, 20, 12);
    body->addLayout(pagesColumn, 1);
    rows->addLayout(body, 1);

    // Page 0: welcome.
    QWidget* welcome = Page(wizard_.pages[0], "page0", QStringLiteral("Broadcast Wizard"));
    welcome->layout()->addWidget(Text(QStringLiteral(
        "This wizard will help you configure your Kestrova software to broadcast over the "
        "Internet.")));
    static_cast<QVBoxLayout*>(welcome->layout())->addStretch();
    pagesColumn->addWidget(welcome);

    // Page 1: the listing's name and e-mail address.
    QWidget* details = Page(wizard_.pages[1], "page1", QStringLiteral("Live Listing Details"));
    auto* detailsColumn = static_cast<QVBoxLayout*>(details->layout());
    detailsColumn->addWidget(
        Text(QStringLiteral("Please enter a name for your broadcast in the field provided. To "
                            "help you find your camera on our live listing page.") +
             QStringLiteral(" (") + ListingPageAddress() + QLatin1Char(')')));
    auto* nameBox = new QLineEdit;
    nameBox->setObjectName(QStringLiteral("txtCamName"));
    Bind(nameBox, wizard_.txtCamName);
    detailsColumn->addWidget(nameBox);
    detailsColumn->addSpacing(10);
    detailsColumn->addWidget(Text(QStringLiteral(
        "You can also enter your email address. (Entering your email address is optional.)")));
    auto* mailBox = new QLineEdit;
    mailBox->setObjectName(QStringLiteral("txtEmailAddress"));
    Bind(mailBox, wizard_.txtEmailAddress);
    detailsColumn->addWidget(mailBox);
    detailsColumn->addStretch();
    pagesColumn->addWidget(details);

    // Page 2: done.
    QWidget* done = Page(wizard_.pages[2], "page2", QStringLiteral("Broadcast Wizard Complete"));
    // The run of blanks ends the first sentence's line: the label is as wide as that line.
    const QString first = QStringLiteral("The broadcast wizard is now complete.            ");
    QLabel* complete = Text(first + QStringLiteral("Click 'Finish' to return to the software."));
    complete->setMaximumWidth(
        complete->fontMetrics().horizontalAdvance(first + QLatin1String("Cl")));
    done->layout()->addWidget(complete);
    static_cast<QVBoxLayout*>(done->layout())->addStretch();
    pagesColumn->addWidget(done);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    rows->addWidget(line);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 10, 12, 12);
    buttons->addStretch();
    buttons->addWidget(WizardButton("cmdBack", wizard_.cmdBack));
    buttons->addWidget(WizardButton("cmdNext", wizard_.cmdNext));
    buttons->addWidget(WizardButton("cmdFinish", wizard_.cmdFinish));
    buttons->addSpacing(12);
    buttons->addWidget(WizardButton("cmdCancel", wizard_.cmdCancel));
    rows->addLayout(buttons);

    // A failed save must not leave through the window's event loop: it closes the wizard and
    // is handed to the caller.
    wizard_.cmdNext.onClick(alive_, [this] { Run([this] { wizard_.Next(); }); });
    wizard_.cmdBack.onClick(alive_, [this] { Run([this] { wizard_.Back(); }); });
    wizard_.cmdFinish.onClick(alive_, [this] { Run([this] { wizard_.Finish(); }); });
    wizard_.cmdCancel.onClick(alive_, [this] { Run([this] { wizard_.Cancel(); }); });
    wizard_.onClose = [guard = QPointer<frmWizard>(this)] {
        if (guard)
            guard->QDialog::done(QDialog::Accepted);
    };
    setFixedSize(sizeHint().expandedTo(QSize(560, 0)));
}

void frmWizard::Run(const std::function<void()>& step) {
    try {
        step();
    } catch (const AppError& e) {
        error_ = e;
        wizard_.Cancel();
    }
}

void frmWizard::reject() {
    if (wizard_.closed())
        QDialog::reject();
    else
        wizard_.Cancel(); // closes the window through onClose
}

void ShowBroadcastWizard(QWidget* parent) {
    BroadcastWizard wizard;
    if (dialogs::Unattended()) {
        wizard.Next();
        wizard.Next();
        if (wizard.page() == 2)
            wizard.Finish();
        return;
    }
    // On the heap: should the parent window be destroyed while the wizard runs (the station
    // closing), the wizard goes with it and must not be deleted twice.
    QPointer<frmWizard> dialog = new frmWizard(wizard, parent);
    dialog->exec();
    std::optional<AppError> error;
    if (dialog) {
        error = dialog->error();
        delete dialog.data();
    }
    if (error)
        throw *error;
}

} // namespace kestrova
