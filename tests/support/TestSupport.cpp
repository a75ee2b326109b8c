#include "support/TestSupport.h"

#include "core/AppState.h"
#include "settings/Records.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace kestrova::test {

StationFixture::StationFixture()
    : oldDataHome_(qgetenv("XDG_DATA_HOME")), oldPostingPort_(qgetenv("KESTROVA_POSTING_PORT")) {
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
    qputenv("KESTROVA_POSTING_PORT", QByteArray::number(postingPort_.port()));
    state_.dialogResponder = [this](const dialogs::Request& r) {
        dialogs_.push_back(r);
        dialogs::Response response;
        response.answer = r.defaultAnswer;
        response.text = r.defaultText;
        return response;
    };
}

StationFixture::~StationFixture() {
    for (const auto& [name, old] :
         {std::pair<const char*, const QByteArray&>{"XDG_DATA_HOME", oldDataHome_},
          {"KESTROVA_POSTING_PORT", oldPostingPort_}}) {
        if (old.isNull())
            qunsetenv(name);
        else
            qputenv(name, old);
    }
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

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : name_(name), old_(qgetenv(name)), hadOld_(qEnvironmentVariableIsSet(name)) {
    set(value);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        qputenv(name_, old_);
    else
        qunsetenv(name_);
}

void ScopedEnv::set(const QByteArray& value) {
    if (value.isNull())
        qunsetenv(name_);
    else
        qputenv(name_, value);
}

WindowWatch::WindowWatch(const QString& objectName, std::function<void(QWidget*)> action)
    : objectName_(objectName), action_(std::move(action)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() != objectName_ || !w->isVisible())
                continue;
            if (std::find(handled_.begin(), handled_.end(), w) != handled_.end())
                continue;
            handled_.emplace_back(w);
            if (action_)
                action_(w);
        }
    });
    timer_.start();
}

double MeanDifference(const QImage& first, const QImage& second, int dx, int dy) {
    const QImage a = first.convertToFormat(QImage::Format_RGB888);
    const QImage b = second.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const int by = y + dy;
        if (by < 0 || by >= b.height())
            continue;
        const uchar* rowA = a.constScanLine(y);
        const uchar* rowB = b.constScanLine(by);
        for (int x = 0; x < a.width(); ++x) {
            const int bx = x + dx;
            if (bx < 0 || bx >= b.width())
                continue;
            for (int c = 0; c < 3; ++c)
                sum += std::abs(rowA[x * 3 + c] - rowB[bx * 3 + c]);
            count += 3;
        }
    }
    return count ? sum / count : 255.0;
}

std::pair<int, int> BestShift(const QImage& original, const QImage& moved, int limit) {
    const auto best = [&](auto difference) {
        int at = 0;
        double lowest = 1e9;
        for (int d = -limit; d <= limit; ++d) {
            const double value = difference(d);
            if (value < lowest) {
                lowest = value;
                at = d;
            }
        }
        return at;
    };
    const int dx = best([&](int d) { return MeanDifference(moved, original, d, 0); });
    const int dy = best([&](int d) { return MeanDifference(moved, original, dx, d); });
    // moved(x, y) matches original(x + dx, y + dy): the content moved by (-dx, -dy).
    return {-dx, -dy};
}

bool ProgramFolder::javaLaunched() const {
    return QFile::exists(javaArgsFile());
}

void ProgramFolder::useDirectory(quint16 port, const QString& cameraId) const {
    WriteFile(
        path + QStringLiteral("/deployment.conf"),
        QStringLiteral("[service]\nMainHost=127.0.0.1\nMainPort=%1\nSecondaryHost=127.0.0.1:%1"
                       "\nSupportEmail=help@example.org\n[station]\nCameraId=%2\n")
            .arg(port)
            .arg(cameraId)
            .toUtf8());
}

void ProgramFolder::useRealHelper() const {
    QDir(path + QStringLiteral("/jre")).removeRecursively();
    QFile::link(QStringLiteral(KESTROVA_STATION_DIR "/jre"), path + QStringLiteral("/jre"));
    QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/BeaconServer.jar"),
                path + QStringLiteral("/BeaconServer.jar"));
}

ProgramFolder MakeProgramFolder(const QString& parent, bool withTypeNumber) {
    ProgramFolder folder{parent + QStringLiteral("/program"), std::make_shared<RefusingPort>()};
    QDir().mkpath(folder.path + QStringLiteral("/jre/bin"));
    if (withTypeNumber)
        WriteFile(folder.path + QStringLiteral("/kestrovaType.dat"), "1\n");
    for (const char* file : {"interface.jpg", "local.jpg", "libpantilt.so", "libKestrovaLVCam.so"})
        QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/") + QLatin1String(file),
                    folder.path + QLatin1Char('/') + QLatin1String(file));
    folder.useDirectory(folder.refusingPort->port(), QStringLiteral("test-camera"));
    const QString java = folder.path + QStringLiteral("/jre/bin/java");
    WriteFile(
        java,
        QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(folder.javaArgsFile()).toUtf8());
    QFile::setPermissions(java, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

StationProcess::StationProcess(const QString& cameras)
    : program_(MakeProgramFolder(dir_.path())),
      environment_(QProcessEnvironment::systemEnvironment()) {
    QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/webcam"),
                program_.path + QStringLiteral("/webcam"));
    environment_.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    environment_.insert(QStringLiteral("KESTROVA_UNATTENDED"), QStringLiteral("1"));
    environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment_.insert(QStringLiteral("KESTROVA_VIRTUAL_CAMERAS"), cameras);
    environment_.insert(QStringLiteral("KESTROVA_POSTING_PORT"),
                        QString::number(postingPort_.port()));
    // In a sanitised build the leak checker runs at exit: the station must free what it made,
    // and the reports need whole stacks.
    const QString asan = environment_.value(QStringLiteral("ASAN_OPTIONS"));
    environment_.insert(QStringLiteral("ASAN_OPTIONS"),
                        (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) +
                            QStringLiteral("fast_unwind_on_malloc=0"));
}

StationProcess::~StationProcess() {
    for (auto& p : processes_) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
}

void StationProcess::useRealHelper() {
    program_.useRealHelper();
    postingPort_.release();
}

quint16 StationProcess::useFreeCommandPort() {
    quint16 port = 0;
    for (int attempt = 0; attempt < 100 && port == 0; ++attempt) {
        const auto candidate =
            static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::AnyIPv4, candidate))
            port = candidate;
    }
    SettingsRecord settings;
    settings.PtzPort = static_cast<std::int16_t>(port);
    QDir().mkpath(dataFolder());
    WriteFile(dataFolder() + QStringLiteral("/settings.dat"), EncodeSettingsRecord(settings));
    return port;
}

void StationProcess::setEnvironment(const QString& name, const QString& value) {
    environment_.insert(name, value);
}

QProcess& StationProcess::start(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment_);
    // Nothing reads the pipes while the test waits: the output goes to files.
    const QString base = dir_.path() + QStringLiteral("/station-%1").arg(processes_.size());
    process->setStandardOutputFile(base + QStringLiteral(".out"));
    process->setStandardErrorFile(base + QStringLiteral(".err"));
    process->setObjectName(base);
    process->start(program_.path + QStringLiteral("/webcam"), arguments);
    process->waitForStarted(10000);
    processes_.push_back(std::move(process));
    return *processes_.back();
}

QString StationProcess::errors(const QProcess& process) const {
    return QString::fromLocal8Bit(ReadFile(process.objectName() + QStringLiteral(".err")));
}

bool StationProcess::waitForLogLine(const QString& line, int ms) const {
    const QProcess* last = processes_.empty() ? nullptr : processes_.back().get();
    return WaitFor(
               [&] {
                   return LogMessages(dataFolder()).contains(line) ||
                          (last && last->state() == QProcess::NotRunning);
               },
               ms) &&
           LogMessages(dataFolder()).contains(line);
}

bool StationProcess::terminate(QProcess& process, int ms) {
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit;
}

} // namespace kestrova::test
