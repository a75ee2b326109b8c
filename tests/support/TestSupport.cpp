#include "support/TestSupport.h"

#include "app/AppState.h"
#include "app/Timers.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace kestrova::test {

StationFixture::StationFixture() : oldDataHome_(qgetenv("XDG_DATA_HOME")) {
    ResetAppState();
    ResetTimers();
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
    dialogs::SetResponder([this](const dialogs::Request& r) {
        dialogs_.push_back(r);
        dialogs::Response response;
        response.answer = r.defaultAnswer;
        response.text = r.defaultText;
        return response;
    });
}

StationFixture::~StationFixture() {
    dialogs::SetResponder({});
    ResetTimers();
    ResetAppState();
    if (oldDataHome_.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldDataHome_);
}

QString StationFixture::useDataFolder() {
    const QString folder = dataHome() + QStringLiteral("/Kestrova/Webcam_3_0");
    QDir().mkpath(folder);
    App().DataFolder = folder;
    return folder;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QStringList LogMessages(const QString& dataFolder) {
    const QString log = QString::fromUtf8(ReadFile(dataFolder + QStringLiteral("/Log.txt")));
    QStringList lines = log.split(QStringLiteral("\r\n"));
    QStringList messages;
    // Each event line is "<date> <time> <message>"; the time is the first token with two colons.
    static const QRegularExpression stamp(QStringLiteral("^.*?\\d{1,2}:\\d{2}:\\d{2}(?: ?[AaPp][Mm])? "));
    for (int i = 2; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        QString line = lines[i];
        line.remove(stamp);
        messages << line;
    }
    return messages;
}

} // namespace kestrova::test
