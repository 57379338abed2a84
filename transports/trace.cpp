#include "transports/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brimlow {
namespace {

constexpr const char* kTraceVariable = "BRIMLOW_TRACE";
constexpr const char* kAreaNames[] = {"tap", "snpp", "smtp", "lan"};

bool AreaNamed(const char* list, const char* area) {
    size_t length = strlen(area);
    for (const char* p = list; *p;) {
        size_t word = strcspn(p, ",");
        if (word == length && strncmp(p, area, length) == 0)
            return true;
        p += word;
        if (*p == ',')
            ++p;
    }
    return false;
}

} // namespace

bool TraceEnabled(TraceArea area) {
    // Read once: the variable belongs to the process start.
    static const unsigned mask = [] {
        const char* list = getenv(kTraceVariable);
        unsigned bits = 0;
        for (unsigned i = 0; list && i < sizeof kAreaNames / sizeof kAreaNames[0]; ++i)
            if (AreaNamed(list, kAreaNames[i]))
                bits |= 1u << i;
        return bits;
    }();
    return (mask >> static_cast<unsigned>(area)) & 1u;
}

std::string EscapeControlBytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

void TraceBytes(TraceArea area, bool outgoing, std::string_view bytes) {
    if (!TraceEnabled(area))
        return;
    std::string line = std::string(kAreaNames[static_cast<unsigned>(area)]) + (outgoing ? " --> " : " <-- ") +
                       EscapeControlBytes(bytes) + "\n";
    fputs(line.c_str(), stderr);
}

} // namespace brimlow
