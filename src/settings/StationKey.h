// The station key: a random 256-bit secret that the relay binds the camera to when the station
// first registers it, so that only this station can upload for its camera. It lives in
// station.key in the data folder beside the camera identifier it was made for:
//
//   line 1  the key, base64url without padding (43 characters of A-Z a-z 0-9 - _)
//   line 2  the camera identifier
//
// The file is written atomically with mode 0600. The key is never logged, shown or put on a
// command line.
#pragma once

#include <QString>

namespace kestrova {

// Characters of a key in its text form.
constexpr int kStationKeyLength = 43;

// True for the text form of a 256-bit key: 43 base64url characters that decode to 32 bytes.
bool IsValidStationKey(const QString& key);

// Sets StationKey for the camera identifier in CameraId (so ProvideCameraId runs first): the
// key kept in station.key when it was made for this identifier; otherwise (no file, a damaged
// one, or one made for another identifier) a fresh key, written to station.key, with one
// "Launching Software: " log line that says why. Throws AppError when the file cannot be read
// or written, or no random key can be made.
void ProvideStationKey();

} // namespace kestrova
