// The viewer password: one line in pass.dat in the data folder, readable by its owner only.
#pragma once

#include <QString>

namespace kestrova {

// The password viewers must give when none has been set (or the one set is blank).
inline QString DefaultViewerPassword() {
    return QStringLiteral("vorda");
}

// The last line of pass.dat without its surrounding blanks (byte order marks among them); the
// default password when the file is missing or unreadable or that line is blank.
QString getPassword();

// Makes the password, exactly as given, the only line of pass.dat. The file is replaced whole
// or not at all: when it cannot be written, AppError is thrown and the old password stays.
void setPassword(const QString& Password);

} // namespace kestrova
