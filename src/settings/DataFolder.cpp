#include "settings/DataFolder.h"

#include "core/AppError.h"
#include "core/StationState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kestrova {

QString GetAppDataFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

bool FolderExists(const QString& path) {
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

QString GetDataFolder(const QString& name) {
    const QString existing = GetAppDataFolder() + QStringLiteral("/Kestrova/") + name;
    if (FolderExists(existing))
        return existing;
    const QString base = GetAppDataFolder() + QStringLiteral("/Kestrova");
    const QString path = base + QLatin1Char('/') + name;
    for (const QString& folder : {base, path}) {
        if (!FolderExists(folder) && !QDir().mkpath(folder))
            throw AppError(QStringLiteral("Cannot create the folder ") + folder, 75,
                           QStringLiteral("GetDataFolder"));
    }
    return path;
}

QString ProgramFolder() {
    const QString& laidOut = StationState::Current().programFolder;
    if (!laidOut.isEmpty())
        return laidOut;
    return QCoreApplication::applicationDirPath();
}

} // namespace kestrova
