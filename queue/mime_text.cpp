#include "queue/mime_text.h"

namespace brimlow {
namespace {

constexpr size_t kQpLineLimit = 76;
constexpr const char* kWordPrefix = "=?ISO-8859-1?Q?";
constexpr const char* kWordSuffix = "?=";
// Encoded characters in one word: "Subject: " and one word stay within 76 characters.
constexpr size_t kWordPayload = 40;

std::string Escaped(unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {'=', kHex[c >> 4], kHex[c & 15]};
}

// Calls each(line) for every line of text, without its LF or CR LF.
template <typename Each> void ForEachLine(std::string_view text, Each each) {
    for (size_t start = 0;;) {
        size_t end = text.find('\n', start);
        bool last = end == std::string_view::npos;
        std::string_view line = text.substr(start, last ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        each(line, last);
        if (last)
            return;
        start = end + 1;
    }
}

bool IsPhraseSafe(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
           c == '+' || c == '-' || c == '/';
}

} // namespace

bool HasHighBytes(std::string_view text) {
    for (unsigned char c : text)
        if (c > 0x7F)
            return true;
    return false;
}

bool HasOverlongLine(std::string_view text) {
    bool overlong = false;
    ForEachLine(text, [&](std::string_view line, bool) {
        overlong = overlong || line.size() + (line.starts_with('.') ? 1 : 0) > kMaxBodyLineOctets;
    });
    return overlong;
}

std::string QuotedPrintable(std::string_view text) {
    std::string out;
    ForEachLine(text, [&](std::string_view line, bool lastLine) {
        size_t width = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(line[i]);
            bool lineEnd = i + 1 == line.size();
            // Blanks stay as they are except at the end of a line, where transport may strip them.
            bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnd);
            std::string piece = literal ? std::string(1, static_cast<char>(c)) : Escaped(c);
            // A soft break ("=" at the end) keeps every encoded line within 76 characters, the "=" included.
            if (width + piece.size() > (lineEnd ? kQpLineLimit : kQpLineLimit - 1)) {
                out += "=\n";
                width = 0;
            }
            out += piece;
            width += piece.size();
        }
        if (!lastLine)
            out += '\n';
    });
    return out;
}

std::string EncodedWords(std::string_view text) {
    std::string out, word;
    auto flush = [&] {
        out += (out.empty() ? "" : "\n ") + std::string(kWordPrefix) + word + kWordSuffix;
        word.clear();
    };
    for (unsigned char c : text) {
        std::string piece = c == ' ' ? "_" : IsPhraseSafe(c) ? std::string(1, static_cast<char>(c)) : Escaped(c);
        if (word.size() + piece.size() > kWordPayload)
            flush();
        word += piece;
    }
    if (!word.empty() || out.empty())
        flush();
    return out;
}

} // namespace brimlow
