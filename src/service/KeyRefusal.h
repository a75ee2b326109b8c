// The station key on the relay's requests, and what the station does when the relay refuses it.
//
// Every request to the relay (folder check, registration, live and archive frames, option sync)
// carries the key as its last header line. A relay that has bound the camera to another key
// answers with a text that holds "key does not match": the station then says so once in its log
// (until the relay accepts a request again) and in the relay status label.
#pragma once

#include <QByteArray>

namespace kestrova {

// "Authorization: Bearer KEY" and CR LF for the station's key; empty while the station has none.
QByteArray StationKeyHeaderLine();

// True when a text from the relay says that the station's key is not the camera's.
bool IsKeyRefusal(const QByteArray& text);

// The relay refused the station's key: the explanatory log line (once per refusal episode) and
// the status label.
void ReportKeyRefused();

// The relay accepted one of the station's keyed requests: a refusal episode is over.
void NoteKeyAccepted();

} // namespace kestrova
