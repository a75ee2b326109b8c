#include "settings/Deployment.h"

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/EventLog.h"
#include "core/Text.h"
#include "settings/DataFolder.h"
#include "settings/RecordFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace kestrova {

namespace {

constexpr int kFreshCameraIdLength = 16;

// An INI value as text. QSettings reads an unquoted value with commas as a list; such a
// value is joined again so that it is seen (and refused where it matters) as written.
QString IniText(const QSettings& ini, const QString& key) {
    const QVariant value = ini.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(',')).trimmed();
    return value.toString().trimmed();
}

QString CameraIdPath() {
    return App().DataFolder + QStringLiteral("/camera.id");
}

// The identifier as it may be shown in a message or a log line: printable ASCII as it is,
// every other byte as \xNN, and no more than a few dozen characters.
QString Printable(const QString& id) {
    QString out;
    const QByteArray bytes = id.toUtf8();
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x") +
                   QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        if (out.size() >= 64) {
            out += QStringLiteral("...");
            break;
        }
    }
    return out;
}

QString ReadCameraIdFile() {
    QFile file(CameraIdPath());
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(file.errorString(), static_cast<int>(file.error()),
                       QStringLiteral("camera.id"));
    // A valid identifier is short; read a little more than that so that a wrong one shows.
    return QString::fromUtf8(file.read(4096)).trimmed();
}

void WriteCameraIdFile(const QString& id) {
    QSaveFile file(CameraIdPath());
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(file.errorString(), static_cast<int>(file.error()),
                       QStringLiteral("camera.id"));
    if (!WriteAndCommit(file, id.toUtf8() + '\n'))
        throw AppError(file.errorString(), static_cast<int>(file.error()),
                       QStringLiteral("camera.id"));
}

} // namespace

QString DeploymentFile() {
    const QString configured = qEnvironmentVariable("KESTROVA_CONFIG");
    if (!configured.isEmpty())
        return configured;
    return ProgramFolder() + QStringLiteral("/deployment.conf");
}

Deployment ReadDeployment() {
    Deployment d;
    const QSettings ini(DeploymentFile(), QSettings::IniFormat);
    d.MainHost = IniText(ini, QStringLiteral("service/MainHost"));
    const QString port = IniText(ini, QStringLiteral("service/MainPort"));
    if (!port.isEmpty()) {
        bool ok = false;
        const uint value = port.toUInt(&ok);
        if (ok && value >= 1 && value <= 65535)
            d.MainPort = static_cast<std::uint16_t>(value);
    }
    d.SecondaryHost = IniText(ini, QStringLiteral("service/SecondaryHost"));
    d.SupportEmail = IniText(ini, QStringLiteral("service/SupportEmail"));
    d.CameraId = IniText(ini, QStringLiteral("station/CameraId"));
    return d;
}

bool IsValidCameraId(const QString& id) {
    if (id.isEmpty() || id.size() > kMaxCameraIdLength)
        return false;
    for (const QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                        (u >= '0' && u <= '9') || u == '-' || u == '_';
        if (!ok)
            return false;
    }
    return true;
}

void ProvideCameraId() {
    QString id = ReadDeployment().CameraId;
    QString source = QFileInfo(DeploymentFile()).fileName();
    if (id.isEmpty()) {
        source = QStringLiteral("camera.id");
        id = ReadCameraIdFile();
        if (id.isEmpty()) {
            id = RandomAlphaNumeric(kFreshCameraIdLength);
            WriteCameraIdFile(id);
        }
    }
    if (!IsValidCameraId(id)) {
        const QString description =
            QStringLiteral(
                "The camera identifier \"%1\" in %2 is refused: it may hold only letters, "
                "digits, \"-\" and \"_\", at most %3 characters.")
                .arg(Printable(id), source, QString::number(kMaxCameraIdLength));
        WriteLog(QStringLiteral("Launching Software: ") + description);
        throw AppError(description, 5, source);
    }
    App().CameraId.assign(id);
}

} // namespace kestrova
