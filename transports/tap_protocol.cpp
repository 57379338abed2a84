#include "transports/tap_protocol.h"

namespace brimlow {

std::string TapChecksum(std::string_view block) {
    unsigned sum = 0;
    // A 7E1 line carries seven data bits, so the terminal sums what arrives: the top bit of a byte is lost.
    for (unsigned char c : block)
        sum += c & 0x7Fu;
    std::string digits(3, '0');
    digits[0] = static_cast<char>(0x30 + ((sum >> 8) & 0xF));
    digits[1] = static_cast<char>(0x30 + ((sum >> 4) & 0xF));
    digits[2] = static_cast<char>(0x30 + (sum & 0xF));
    return digits;
}

TapBlock BuildTapBlock(const std::string& pin, const std::string& text, size_t offset) {
    TapBlock block;
    std::string& b = block.bytes;
    b += kStx;
    if (text.size() <= kTapBlockText) {
        block.kind = TapBlockKind::Single;
        b += pin + kCr + text + kCr + kEtx;
    } else {
        std::string part = offset < text.size() ? text.substr(offset, kTapBlockText) : std::string();
        bool last = offset > 0 && text.size() - std::min(offset, text.size()) <= kTapBlockText;
        if (offset == 0) {
            block.kind = TapBlockKind::First;
            b += pin + kCr + part + kUs;
        } else if (last) {
            block.kind = TapBlockKind::Last;
            b += part + kCr + kEtx;
        } else {
            block.kind = TapBlockKind::Middle;
            b += part + kUs;
        }
    }
    b += TapChecksum(b) + kCr;
    return block;
}

std::string TapFieldText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        unsigned seven = static_cast<unsigned char>(c) & 0x7Fu;
        out += (seven < 0x20 || seven == 0x7F) ? ' ' : c;
    }
    return out;
}

} // namespace brimlow
