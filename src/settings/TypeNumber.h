#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace kestrova {

// Reads the station's type number from kestrovaType.dat in the program folder: the last line
// of the file, a decimal number with optional blanks around it; a fraction is rounded to the
// nearest integer, halves to the even one. Throws AppError when the file is missing or empty,
// its last line is empty, or the value is no number in 16-bit range.
std::int16_t ReadTypeNumber();

// The same rules applied to the contents of such a file.
std::int16_t ParseTypeNumber(const QByteArray& contents);

} // namespace kestrova
