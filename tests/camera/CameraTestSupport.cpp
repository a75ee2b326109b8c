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

namespace kestrova::test {

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

QImage DecodeWithQt(const QByteArray& jpeg) {
    return QImage::fromData(jpeg, "JPG");
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
