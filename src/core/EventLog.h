// The event log, Log.txt in the data folder: one line per event, each stamped with the local
// date and time, opened and closed for every line so that it can be read while the station runs.
#pragma once

#include <QString>

namespace kestrova {

// Local date and time as the log writes them (the system's short date; time with seconds).
QString LogDate();
QString LogTime();

// "<date> <time><text>" followed by CR LF: the error lines that socket handlers build
// themselves before handing them to WriteLog.
QString StampedLine(const QString& text);

// Empties Log.txt and writes the header line and the empty line after it. Throws AppError
// when the file cannot be written.
void CreateEventLog();

// Appends "<date> <time> <message>" and CR LF. Does nothing while the data folder is not
// known yet. A line that cannot be written is reported on standard error; it never ends the
// station.
void WriteLog(const QString& message);

} // namespace kestrova
