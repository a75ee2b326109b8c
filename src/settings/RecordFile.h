// Fixed-record files: one record from byte 0, no header. Reading yields zero bytes where the
// file is short or missing (a missing file is created empty); writing replaces the record
// atomically and keeps any bytes the file holds beyond it.
#pragma once

#include <QByteArray>
#include <QString>

namespace kestrova {

// Reads `size` bytes from the start of the file; missing bytes are zero. Creates the file
// empty when it does not exist. Throws AppError when the file cannot be read or created.
QByteArray ReadRecordFile(const QString& path, int size);

// Writes `record` at byte 0 through a temporary file renamed over the old one, so that a
// killed process leaves the old or the new record. Bytes after the record are kept.
// Throws AppError on failure.
void WriteRecordFile(const QString& path, const QByteArray& record);

} // namespace kestrova
