#include "core/Dialogs.h"

#include "core/StationState.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>

namespace kestrova::dialogs {

namespace {

Responder& CurrentResponder() {
    return StationState::Current().dialogResponder;
}

void PrintUnattended(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stderr, "Kestrova: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

QMessageBox::StandardButton ToButton(Answer a) {
    switch (a) {
    case Answer::Ok:
        return QMessageBox::Ok;
    case Answer::Cancel:
        return QMessageBox::Cancel;
    case Answer::Yes:
        return QMessageBox::Yes;
    case Answer::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

Answer FromButton(int b, Answer fallback) {
    switch (b) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return fallback;
    }
}

} // namespace

void SetResponder(Responder responder) {
    CurrentResponder() = std::move(responder);
}

bool Unattended() {
    return StationState::Current().unattended ||
           qEnvironmentVariable("KESTROVA_UNATTENDED") == QLatin1String("1");
}

void SetUnattended(bool on) {
    StationState::Current().unattended = on;
}

QString Title() {
    return QStringLiteral("Kestrova");
}

Answer MessageBox(const QString& text, Icon icon, Buttons buttons, Answer defaultAnswer) {
    Request request;
    request.kind = Request::Kind::Message;
    request.text = text;
    request.icon = icon;
    request.buttons = buttons;
    request.defaultAnswer = defaultAnswer;
    if (CurrentResponder())
        return CurrentResponder()(request).answer;
    if (Unattended()) {
        PrintUnattended(text);
        return defaultAnswer;
    }

    QMessageBox box;
    box.setWindowTitle(Title());
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    box.setDefaultButton(ToButton(defaultAnswer));
    return FromButton(box.exec(), defaultAnswer);
}

std::optional<QString> InputBox(const QString& prompt, const QString& defaultText) {
    Request request;
    request.kind = Request::Kind::Input;
    request.text = prompt;
    request.defaultText = defaultText;
    if (CurrentResponder())
        return CurrentResponder()(request).text;
    if (Unattended())
        return defaultText;
    bool ok = false;
    const QString text =
        QInputDialog::getText(nullptr, Title(), prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

} // namespace kestrova::dialogs
