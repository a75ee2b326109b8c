// The per-user data folder: $XDG_DATA_HOME/Kestrova/<name> (by default ~/.local/share).
#pragma once

#include <QString>

namespace kestrova {

// The user's application-data folder (the generic data location, honouring XDG_DATA_HOME).
QString GetAppDataFolder();

// True when the path exists and is a folder; any error gives false.
bool FolderExists(const QString& path);

// The folder Kestrova/<name> under the application-data folder, created with its parents
// when missing. Throws AppError when a folder cannot be created.
QString GetDataFolder(const QString& name);

// The folder that holds the program file, without a trailing slash; a test that runs the
// station's code in its own process names the folder it laid out in its StationState.
QString ProgramFolder();

} // namespace kestrova
