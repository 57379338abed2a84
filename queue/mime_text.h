#pragma once
// The MIME encodings an e-mail page needs when its text is more than short ASCII lines: the records hold
// ISO-8859-1 text, and SMTP carries 7-bit lines of at most 1,000 octets.
#include <string>
#include <string_view>

namespace brimlow {

// A body line longer than this, once SMTP has doubled a leading ".", would not fit in 1,000 octets with its CR LF.
constexpr size_t kMaxBodyLineOctets = 998;

bool HasHighBytes(std::string_view text);
// A line of text (ended by LF or CR LF, or the last one) that SMTP cannot carry as it stands.
bool HasOverlongLine(std::string_view text);

// Quoted-printable (RFC 2045 6.7): lines ended by LF, no encoded line over 76 characters.
std::string QuotedPrintable(std::string_view text);

// RFC 2047 encoded words in ISO-8859-1 with the Q encoding, safe in a phrase as in unstructured text, folded onto
// continuation lines (LF and a blank) so that every header line stays short.
std::string EncodedWords(std::string_view text);

} // namespace brimlow
