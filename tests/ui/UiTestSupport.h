// What the tests of the main window's handlers share: a fresh station state with loaded
// first-run settings, a deployment of known hosts, the window's handlers with their hooks
// recorded, and input boxes answered from a list.
#pragma once

#include "support/TestSupport.h"
#include "ui/MainWindowLogic.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace kestrova::test {

// The hosts of the test deployment.
inline const QString kMainHost = QStringLiteral("main.example");
inline const QString kSecondaryHost = QStringLiteral("list.example:81");

class UiTest : public ::testing::Test {
  protected:
    UiTest();

    // Writes the program folder's deployment.conf.
    void writeDeployment(const QString& mainPort);
    // The texts the next input boxes answer, in order; after them each answers its default.
    void answerInputs(const QStringList& answers);
    // The prompts of the input boxes and the texts of the message boxes shown so far.
    QStringList inputPrompts() const;
    QStringList messages() const;
    // Installs the recording hooks on a set of handlers (the test's own, or a station's).
    void record(UiHooks& hooks);

    StationFixture fixture_;
    QString program_;
    std::unique_ptr<MainWindowLogic> logic_;
    int syncs_ = 0;
    QStringList opened_;
    int passwordDialogs_ = 0;

  private:
    std::deque<QString> answers_;
    std::vector<dialogs::Request> shown_;
};

} // namespace kestrova::test
