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

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrova::test {

bool ProgramFolder::javaLaunched() const {
    return QFile::exists(javaArgsFile());
}

RefusingPort::RefusingPort() {
    // Without SO_REUSEADDR, so that no other socket can be bound to the port while it is held.
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto candidate =
            static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32768));
        address.sin_port = htons(candidate);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            port_ = candidate;
            return;
        }
    }
}

RefusingPort::~RefusingPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

ProgramFolder MakeProgramFolder(const QString& parent, bool withTypeNumber) {
    ProgramFolder folder{parent + QStringLiteral("/program"), std::make_shared<RefusingPort>()};
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
            .arg(folder.refusingPort->port())
            .toUtf8());
    const QString java = folder.path + QStringLiteral("/jre/bin/java");
    WriteFile(
        java,
        QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(folder.javaArgsFile()).toUtf8());
    QFile::setPermissions(java, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

} // namespace kestrova::test
