// The numbers of the motor commands: 32-bit values for the camera control and the motion
// library, 16-bit values for the pantilt unit. Arithmetic that leaves its type, and preset
// pieces that are no number, raise AppError (the packet that caused them ends there).
#pragma once

#include "core/AppState.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace kestrova {

// The numbers of the run-time errors the motor commands raise.
constexpr int kSubscriptError = 9;
constexpr int kOverflowError = 6;
constexpr int kTypeMismatchError = 13;
constexpr int kFileNotFoundError = 53;
constexpr int kEntryPointError = 453;

// A flag counts as set when it is not 0 (a motor library's result other than 1 may be kept).
inline bool IsSet(Flag flag) {
    return flag != 0;
}

// 32-bit results; an overflow throws.
std::int32_t AddLong(std::int64_t a, std::int64_t b);
std::int32_t AbsLong(std::int32_t value);
// A 32-bit value taken as a 16-bit one; one that does not fit throws.
std::int16_t ToInteger(std::int64_t value);

// A signed decimal number with optional blanks around it; anything else throws.
std::int32_t ParseLong(const QString& text);
std::int16_t ParseInteger(const QString& text);

// The pieces of a preset packet: the text after "Preset_" (after "GET /Preset_" up to the
// first blank when the packet holds "GET"), split at every ":".
QStringList PresetPieces(const QString& packet);
// Piece `index`; a missing piece throws.
const QString& PresetPiece(const QStringList& pieces, int index);

} // namespace kestrova
