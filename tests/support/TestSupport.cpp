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
    dialogs::SetUnattended(false);
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
    static const QRegularExpression stamp(
        QStringLiteral("^.*?\\d{1,2}:\\d{2}:\\d{2}(?: ?[AaPp][Mm])? "));
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

#include <QRandomGenerator>
#include <QTcpServer>

namespace kestrova::test {

bool ProgramFolder::javaLaunched() const {
    return QFile::exists(javaArgsFile());
}

quint16 ClosedPort() {
    // Below 32768: the station keeps relay ports as signed 16-bit numbers.
    QTcpServer server;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<quint16>(20000 + QRandomGenerator::global()->bounded(12000));
        if (server.listen(QHostAddress::LocalHost, port)) {
            server.close();
            return port;
        }
    }
    return 0;
}

ProgramFolder MakeProgramFolder(const QString& parent, bool withTypeNumber) {
    ProgramFolder folder{parent + QStringLiteral("/program")};
    QDir().mkpath(folder.path + QStringLiteral("/jre/bin"));
    if (withTypeNumber)
        WriteFile(folder.path + QStringLiteral("/kestrovaType.dat"), "1\n");
    for (const char* picture : {"interface.jpg", "local.jpg"})
        QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/") + QLatin1String(picture),
                    folder.path + QLatin1Char('/') + QLatin1String(picture));
    WriteFile(
        folder.path + QStringLiteral("/deployment.conf"),
        QStringLiteral("[service]\nMainHost=127.0.0.1\nMainPort=%1\nSupportEmail=help@example.org\n"
                       "[station]\nCameraId=test-camera\n")
            .arg(ClosedPort())
            .toUtf8());
    const QString java = folder.path + QStringLiteral("/jre/bin/java");
    WriteFile(
        java,
        QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(folder.javaArgsFile()).toUtf8());
    QFile::setPermissions(java, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

} // namespace kestrova::test
