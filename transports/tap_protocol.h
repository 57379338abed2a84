#pragma once
// TAP (Telocator Alphanumeric Protocol) as the console speaks it to a paging terminal: the characters, the time
// limits and the message blocks, as pure functions with no port behind them.
//   login:   ESC P G 1 CR                      go-ahead from the terminal: ESC [ p
//   block:   STX pin CR text CR ETX c c c CR   (one block)
//            STX pin CR text230 US c c c CR    (first of several)
//            STX text230 US c c c CR           (middle)
//            STX text CR ETX c c c CR          (last)
#include <string>
#include <string_view>

namespace brimlow {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kCr = 0x0D;
constexpr char kNak = 0x15;
constexpr char kEsc = 0x1B;
constexpr char kRs = 0x1E;
constexpr char kUs = 0x1F;

constexpr int kTapCrIntervalSeconds = 2;  // CR while waiting for "ID="
constexpr int kTapMaxCrResends = 10;      // the wait ends when an 11th CR has gone out
constexpr int kTapLoginTimeoutSeconds = 10; // login sent, waiting for the go-ahead
constexpr int kTapBlockTimeoutSeconds = 10; // block sent, waiting for ACK, NAK or RS
constexpr int kTapBlockRetries = 3;       // tries per block, NAKs and time-outs together
constexpr size_t kTapBlockText = 230;     // text characters per block
constexpr size_t kTapReceiveBuffer = 59;  // the terminal's replies are looked for in this much text
constexpr size_t kTapMessageLimit = 1001; // message bytes read from a queue file

constexpr const char* kTapLogin = "\x1bPG1\r";
constexpr const char* kTapGoAhead = "[p";
constexpr const char* kTapIdPrompt = "ID=";
constexpr const char* kTapForcedDisconnect = "\x1b\x04";

enum class TapBlockKind { Single, First, Middle, Last };

struct TapBlock {
    TapBlockKind kind;
    std::string bytes; // STX through the checksum and its CR
};

// The three checksum characters of a block from its STX through its final US or ETX: the 7-bit values summed,
// the low 12 bits as three digits, each written as 0x30 + digit.
std::string TapChecksum(std::string_view block);

// The block of text that starts at offset; a text of at most 230 characters is a single block.
TapBlock BuildTapBlock(const std::string& pin, const std::string& text, size_t offset);

// The text of a PIN or message field: a line break (CR LF, LF or CR) becomes one blank, and so does every other
// control character, also one that a 7-bit line makes of a byte with its top bit set (0x83 arrives as ETX): CR
// ends a field, STX, ETX, US and EOT frame the block, ESC starts a command.
std::string TapFieldText(std::string_view text);

} // namespace brimlow
