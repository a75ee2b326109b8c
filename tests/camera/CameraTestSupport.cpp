#include "CameraTestSupport.h"

#include "core/AppState.h"
#include "core/EventLog.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace kestrova::test {

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

CameraTest::CameraTest() = default;

CameraTest::~CameraTest() {
    CloseTopLevelWindows();
}

CameraModule& CameraTest::camera() {
    if (!camera_)
        camera_ = std::make_unique<CameraModule>();
    return *camera_;
}

QString CameraTest::prepareStartup() {
    const QString folder = station_.useDataFolder();
    CreateEventLog();
    LoadSettings();
    return folder;
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

QImage DecodeWithQt(const QByteArray& jpeg) {
    return QImage::fromData(jpeg, "JPG");
}

WindowWatch::WindowWatch(const QString& objectName, std::function<void(QWidget*)> action)
    : objectName_(objectName), action_(std::move(action)) {
    timer_.setInterval(20);
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

int VisibleWindows(const QString& objectName) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return static_cast<int>(std::count_if(windows.begin(), windows.end(), [&](QWidget* w) {
        return w->objectName() == objectName && w->isVisible();
    }));
}

DirectoryStandIn::DirectoryStandIn() {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++lookups_;
            socket->close();
            socket->deleteLater();
        }
    });
    server_.listen(QHostAddress::LocalHost);
}

void DirectoryStandIn::serve(const ProgramFolder& program) const {
    const QString file = program.path + QStringLiteral("/deployment.conf");
    QString text = QString::fromUtf8(ReadFile(file));
    static const QRegularExpression port(QStringLiteral("(?m)^MainPort=.*$"));
    text.replace(port, QStringLiteral("MainPort=%1").arg(server_.serverPort()));
    WriteFile(file, text.toUtf8());
}

void CloseTopLevelWindows() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        w->close();
        w->deleteLater();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace kestrova::test
