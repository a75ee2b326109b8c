// The chat room beside the camera page: its switch, the room and login names, the chat page.
#pragma once

#include <QString>

namespace kestrova {

// The most bytes of the stored room name (the size of its field).
constexpr int kRoomNameLength = 50;

// The room name as it is stored: URL-encoded, cut to the field's 50 characters before the
// first character whose encoding would not fit whole, so that the stored text never ends in
// half an escape or half a character.
QString EncodedRoomName(const QString& typed);

// A stored, already encoded text made safe for an address: letters, digits and complete
// "%XX" escapes are kept as they are, every other character is encoded. A text that the
// station encoded itself comes back unchanged.
QString KeepEncoded(const QString& stored);

// The stored room name as the user typed it (escapes decoded), for the room name label.
QString ShownRoomName();

} // namespace kestrova
