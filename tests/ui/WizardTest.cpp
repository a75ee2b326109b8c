// The broadcast wizard: its pages and buttons, what it stores and saves, and its window.
#include "UiTestSupport.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/Records.h"
#include "ui/Wizard.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrova::test {
namespace {

const QString kNameMissing = QStringLiteral("Please enter a name for your camera.");

class WizardTest : public UiTest {
  protected:
    // The buttons' enabled states, Back Next Finish, as a string of 0 and 1.
    static QString buttons(const BroadcastWizard& w) {
        QString states;
        for (const Button* b : {&w.cmdBack, &w.cmdNext, &w.cmdFinish})
            states += b->enabled() ? QLatin1Char('1') : QLatin1Char('0');
        return states;
    }
    static QString shownPages(const BroadcastWizard& w) {
        QString shown;
        for (const Area& page : w.pages)
            shown += page.visible() ? QLatin1Char('1') : QLatin1Char('0');
        return shown;
    }
    CamRecord savedCam() const {
        return DecodeCamRecord(ReadFile(App().DataFolder + QStringLiteral("/cam.dat")));
    }
};

TEST_F(WizardTest, NextAndBackWalkThePagesAndSetTheButtons) {
    BroadcastWizard w;
    int closes = 0;
    w.onClose = [&closes] { ++closes; };
    const struct {
        std::function<void()> step;
        int page;
        const char* pages;
        const char* buttons;
    } walk[] = {
        {[] {}, 0, "100", "010"},
        {[&w] { w.Next(); }, 1, "010", "110"},
        {[&w] { w.Back(); }, 0, "100", "010"},
        {[&w] { w.Next(); }, 1, "010", "110"},
        {[&w] { w.Next(); }, 2, "001", "101"},
        {[&w] { w.Next(); }, 2, "001", "101"},
        {[&w] { w.Back(); }, 1, "010", "110"},
        {[&w] { w.Next(); }, 2, "001", "101"},
    };
    int step = 0;
    for (const auto& s : walk) {
        SCOPED_TRACE(step++);
        s.step();
        EXPECT_EQ(w.page(), s.page);
        EXPECT_EQ(shownPages(w), QLatin1String(s.pages));
        EXPECT_EQ(buttons(w), QLatin1String(s.buttons));
    }
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(App().Cam.WizardDone, 0);
    w.Finish();
    EXPECT_EQ(App().Cam.WizardDone, kTrue);
    EXPECT_EQ(closes, 1);
}

TEST_F(WizardTest, AFirstRunOffersTheDefaultsAndALaterOneTheStoredValues) {
    BroadcastWizard first;
    first.Next();
    EXPECT_EQ(first.txtCamName.value(), QStringLiteral("Kestrova Webcam"));
    EXPECT_TRUE(first.txtEmailAddress.value().isEmpty());

    App().Cam.CameraName = QStringLiteral("  Harbour View ");
    App().Cam.EmailAddress = QStringLiteral("ann@example.org");
    BroadcastWizard again;
    again.Next();
    EXPECT_EQ(again.txtCamName.value(), QStringLiteral("Harbour View"));
    EXPECT_EQ(again.txtEmailAddress.value(), QStringLiteral("ann@example.org"));
}

TEST_F(WizardTest, AnEmptyNameIsRefusedButTwoSpacesPass) {
    for (const QString& name : {QString(), QStringLiteral(" ")}) {
        BroadcastWizard w;
        w.Next();
        w.txtCamName.set(name);
        w.Next();
        EXPECT_EQ(w.page(), 1);
        EXPECT_EQ(buttons(w), QStringLiteral("110"));
    }
    EXPECT_EQ(messages(), QStringList(2, kNameMissing));
    EXPECT_EQ(App().Cam.CameraName.bytes()[0], 0); // nothing stored

    BroadcastWizard w;
    w.Next();
    w.txtCamName.set(QStringLiteral("  "));
    w.Next();
    EXPECT_EQ(w.page(), 2);
    EXPECT_EQ(savedCam().CameraName.text().left(3), QStringLiteral("   "));
    EXPECT_TRUE(savedCam().CameraName.trimmed().isEmpty());
}

TEST_F(WizardTest, NextStoresAndSavesAndCancelKeepsItButNotTheWizardDone) {
    BroadcastWizard w;
    w.Next();
    w.txtCamName.set(QStringLiteral("Garden"));
    w.txtEmailAddress.set(QStringLiteral("me@example.org"));
    w.Next();
    w.Back(); // a second thought
    w.txtCamName.set(QStringLiteral("Back Garden"));
    w.Next();
    w.Cancel();
    EXPECT_TRUE(w.closed());
    EXPECT_EQ(savedCam().CameraName.trimmed(), QStringLiteral("Back Garden"));
    EXPECT_EQ(savedCam().EmailAddress.trimmed(), QStringLiteral("me@example.org"));
    EXPECT_EQ(savedCam().WizardDone, 0);
    EXPECT_EQ(App().Cam.WizardDone, 0);
}

TEST_F(WizardTest, LongAndOddNamesAreStoredAsTypedUpToWholeCharactersOf256Bytes) {
    const QString name = QStringLiteral("\"Ève's\" & <Cam> ") + QString(300, QChar(0x00E9));
    const QString mail = QString(300, QLatin1Char('m')) + QStringLiteral("@example.org");
    BroadcastWizard w;
    w.Next();
    w.txtCamName.set(name);
    w.txtEmailAddress.set(mail);
    w.Next();
    const QString stored = savedCam().CameraName.trimmed();
    EXPECT_TRUE(name.startsWith(stored));
    EXPECT_LE(stored.toUtf8().size(), 256);
    EXPECT_GE(stored.toUtf8().size(), 255);
    EXPECT_EQ(savedCam().EmailAddress.trimmed(), QString(256, QLatin1Char('m')));
}

TEST_F(WizardTest, UnattendedTheWizardTakesItsDefaultsWithoutShowing) {
    WindowWatch window(QStringLiteral("frmWizard"), [](QWidget* w) { w->close(); });
    dialogs::SetUnattended(true);
    ShowBroadcastWizard();
    EXPECT_EQ(window.seen(), 0);
    EXPECT_EQ(savedCam().CameraName.trimmed(), QStringLiteral("Kestrova Webcam"));
    EXPECT_EQ(App().Cam.WizardDone, kTrue);
}

TEST_F(WizardTest, EditCamNameShowsTheWindowWhoseButtonsRunTheWizard) {
    App().Cam.CameraName = QStringLiteral("Old Name");
    QStringList texts;
    WindowWatch window(QStringLiteral("frmWizard"), [&texts](QWidget* w) {
        texts << w->windowTitle();
        w->findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
        auto* name = w->findChild<QLineEdit*>(QStringLiteral("txtCamName"));
        texts << name->text();
        for (QLabel* label : w->findChildren<QLabel*>()) {
            if (label->isVisibleTo(w) && label->text().contains(QLatin1String("livelist")))
                texts << label->text();
        }
        name->setText(QStringLiteral("New Name"));
        w->findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
        w->findChild<QPushButton*>(QStringLiteral("cmdFinish"))->click();
    });
    Ui().cmdEditCamName.click();
    EXPECT_EQ(window.seen(), 1);
    EXPECT_EQ(texts,
              (QStringList{QStringLiteral("Kestrova: Broadcast Wizard"), QStringLiteral("Old Name"),
                           QStringLiteral("Please enter a name for your broadcast in the field "
                                          "provided. To help you find your camera on our live "
                                          "listing page. (http://list.example:81/livelist.asp)")}));
    EXPECT_EQ(savedCam().CameraName.trimmed(), QStringLiteral("New Name"));
    EXPECT_EQ(App().Cam.WizardDone, kTrue);
}

TEST_F(WizardTest, ACameraNameThatCannotBeSavedIsReportedAndTheWizardCloses) {
    WriteFile(fixture_.tempPath() + QStringLiteral("/plain-file"), "x");
    App().DataFolder = fixture_.tempPath() + QStringLiteral("/plain-file/folder");
    WindowWatch window(QStringLiteral("frmWizard"), [](QWidget* w) {
        w->findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
        w->findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
    });
    Ui().cmdEditCamName.click();
    EXPECT_EQ(window.seen(), 1);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].startsWith(QStringLiteral("The camera name could not be saved: ")));
    EXPECT_EQ(App().Cam.WizardDone, 0);
}

} // namespace
} // namespace kestrova::test
