// Text helpers every part of the station shares.
#pragma once

#include <QString>

namespace kestrova {

// Letters and digits kept; every other byte of the text's UTF-8 form becomes "%" and two
// upper-case hexadecimal digits (a space is %20).
QString UrlEncode(const QString& text);

// `length` random letters and digits, uniformly drawn from the 62 of them. All calls draw from
// one generator seeded once, so calls in the same second never repeat each other.
QString RandomAlphaNumeric(int length);

} // namespace kestrova
