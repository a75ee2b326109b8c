#pragma once

// Small text helpers shared by the stores, the pages and the routes.

#include <string>
#include <string_view>

namespace reflector {

// Text with every byte sequence that is not UTF-8 replaced by U+FFFD, so that stored text is
// always text that pages can show.
std::string validUtf8(std::string_view text);

// True when the text holds a byte below 0x20 or DEL.
bool hasControlCharacters(std::string_view text);

// The text as a JSON string, quotes included: '"', '\\' and control characters escaped, and
// '<', '>' and '&' as \u escapes, so that the string can never end a script or an element.
std::string jsonString(std::string_view text);

// Text made safe for HTML element content and quoted attribute values.
std::string htmlEscape(std::string_view text);

// Percent-encoding for a URL's query value: letters, digits and "-._~" kept, every other byte
// as %XX.
std::string urlEncode(std::string_view text);

// Text of at most `maxBytes`, cut at a character boundary (the text must be UTF-8).
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

// A text as a sentence: first letter upper case, a full stop at the end.
std::string sentence(std::string text);

// True for a name fit to hand to the station as the relay's host: letters, digits, '.', '-',
// ':' and the brackets of an IPv6 literal, at most 253 characters.
bool isValidHostName(const std::string& host);

} // namespace reflector
