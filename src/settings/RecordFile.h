// Fixed-record files: one record from byte 0, no header. Reading yields zero bytes where the
// file is short or missing (a missing file is created empty); writing replaces the record
// atomically and keeps any bytes the file holds beyond it.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace kestrova {

// Reads `size` bytes from the start of the file; missing bytes are zero. Creates the file
// empty when it does not exist. Throws AppError when the file cannot be read or created.
QByteArray ReadRecordFile(const QString& path, int size);

// Writes `bytes` into an open QSaveFile and commits it: true when every byte reached the file
// system and the file replaced the old one. The bytes are pushed out before the commit, so that
// a write the file system refuses (a full disk) fails the save instead of committing a short
// file; on false the old file is untouched and the file's error says why.
bool WriteAndCommit(QSaveFile& file, const QByteArray& bytes);

// Writes `record` at byte 0 through a temporary file renamed over the old one, so that a
// killed process leaves the old or the new record. Bytes after the record are kept.
// Throws AppError on failure.
void WriteRecordFile(const QString& path, const QByteArray& record);

// Removes what saves killed between their first byte and their rename left in `folder`: the
// temporary files ("settings.dat.Ab3dEf") beside the files the station writes. Only one station
// runs per user, so none of them is a save under way. Returns how many went.
int RemoveInterruptedSaves(const QString& folder);

} // namespace kestrova
