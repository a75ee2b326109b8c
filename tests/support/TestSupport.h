// Helpers shared by the station's tests.
#pragma once

#include "ui/Dialogs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace kestrova::test {

// A fresh state and a temporary data folder (XDG_DATA_HOME points into it) for one test.
// Dialogs are answered with their defaults and recorded.
class StationFixture {
  public:
    StationFixture();
    ~StationFixture();

    QString dataHome() const { return dir_.path() + QStringLiteral("/data"); }
    // The station's data folder Kestrova/Webcam_3_0 (created) and App().DataFolder set to it.
    QString useDataFolder();

    const std::vector<dialogs::Request>& dialogsShown() const { return dialogs_; }
    QString tempPath() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
    QByteArray oldDataHome_;
    std::vector<dialogs::Request> dialogs_;
};

QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);

// The log lines after the header, with their date and time cut off.
QStringList LogMessages(const QString& dataFolder);

} // namespace kestrova::test

namespace kestrova::test {

// A TCP port on 127.0.0.1, below 32768 (the station keeps relay ports in 16 signed bits), that
// refuses connections for as long as the object lives: a socket is bound to the port but does
// not listen, so a connection to it is refused and nothing else can take the port meanwhile.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    // 0 when no port could be had.
    quint16 port() const { return port_; }

  private:
    int fd_ = -1;
    quint16 port_ = 0;
};

// A program folder laid out for a station run: kestrovaType.dat ("1"), the pictures of the
// built program folder, a deployment.conf whose directory port refuses connections (for as
// long as a copy of the folder object lives), and a jre/bin/java that only writes its
// arguments to java-args.txt in the folder.
struct ProgramFolder {
    QString path;
    std::shared_ptr<RefusingPort> refusingPort;
    QString javaArgsFile() const { return path + QStringLiteral("/java-args.txt"); }
    bool javaLaunched() const;
};
ProgramFolder MakeProgramFolder(const QString& parent, bool withTypeNumber = true);

} // namespace kestrova::test
