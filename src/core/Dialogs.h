// The one way the station asks the user something: message boxes and input boxes, all
// titled "Kestrova". With KESTROVA_UNATTENDED=1 nobody is at the screen: a message box takes
// its default button and writes "Kestrova: <text>" to standard error, an input box takes its
// default answer. Tests install a responder that sees and answers every request. Both belong to
// the station's StationState.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace kestrova::dialogs {

enum class Icon { None, Critical, Warning, Information, Question };
enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };

struct Request {
    enum class Kind { Message, Input };
    Kind kind = Kind::Message;
    QString text;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    Answer defaultAnswer = Answer::Ok;
    QString defaultText; // input boxes
};

struct Response {
    Answer answer = Answer::Ok;
    std::optional<QString> text; // input boxes: the typed text; nullopt when cancelled
};

using Responder = std::function<Response(const Request&)>;

// Installs (or with an empty function removes) the responder that answers every dialog.
void SetResponder(Responder responder);

// True with KESTROVA_UNATTENDED=1, or once SetUnattended(true) was called (the station is
// closing and nobody may be there to answer).
bool Unattended();
void SetUnattended(bool on);

QString Title();

Answer MessageBox(const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                  Answer defaultAnswer = Answer::Ok);

// Returns the typed text, or nullopt when the user cancelled.
std::optional<QString> InputBox(const QString& prompt, const QString& defaultText = QString());

} // namespace kestrova::dialogs
