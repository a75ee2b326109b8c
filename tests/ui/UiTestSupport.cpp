#include "UiTestSupport.h"

#include "core/AppState.h"
#include "settings/Settings.h"

#include <QDir>

namespace kestrova::test {

UiTest::UiTest() : program_(fixture_.tempPath() + QStringLiteral("/program")) {
    QDir().mkpath(program_);
    fixture_.useProgramFolder(program_);
    writeDeployment(QStringLiteral("8080"));
    dialogs::SetResponder([this](const dialogs::Request& r) {
        shown_.push_back(r);
        dialogs::Response response;
        response.answer = r.defaultAnswer;
        response.text = r.defaultText;
        if (r.kind == dialogs::Request::Kind::Input && !answers_.empty()) {
            response.text = answers_.front();
            answers_.pop_front();
        }
        return response;
    });
    fixture_.useDataFolder();
    App().CameraId.assign(QStringLiteral("cam-42"));
    logic_ = std::make_unique<MainWindowLogic>();
    record(logic_->hooks());
    LoadSettings();
    syncs_ = 0;
}

void UiTest::writeDeployment(const QString& mainPort) {
    WriteFile(program_ + QStringLiteral("/deployment.conf"),
              QStringLiteral("[service]\nMainHost=%1\nMainPort=%2\nSecondaryHost=%3\n")
                  .arg(kMainHost, mainPort, kSecondaryHost)
                  .toUtf8());
}

void UiTest::answerInputs(const QStringList& answers) {
    answers_.assign(answers.begin(), answers.end());
}

QStringList UiTest::inputPrompts() const {
    QStringList prompts;
    for (const auto& r : shown_) {
        if (r.kind == dialogs::Request::Kind::Input)
            prompts << r.text;
    }
    return prompts;
}

QStringList UiTest::messages() const {
    QStringList texts;
    for (const auto& r : shown_) {
        if (r.kind == dialogs::Request::Kind::Message)
            texts << r.text;
    }
    return texts;
}

void UiTest::record(UiHooks& hooks) {
    hooks.synchronize = [this] { ++syncs_; };
    hooks.openUrl = [this](const QString& address) { opened_ << address; };
    hooks.editPasswords = [this] { ++passwordDialogs_; };
}

} // namespace kestrova::test
