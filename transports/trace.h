#pragma once
// Raw protocol exchanges on standard error for field support: BRIMLOW_TRACE=tap,snpp,smtp,lan turns on the
// areas named. Each exchange is one line with its direction marker and control bytes escaped.
#include <string>
#include <string_view>

namespace brimlow {

enum class TraceArea { Tap, Snpp, Smtp, Lan };

bool TraceEnabled(TraceArea area);

// "snpp --> PAGE 1234\r\n": outgoing "-->", incoming "<--".
void TraceBytes(TraceArea area, bool outgoing, std::string_view bytes);

// CR, LF, TAB as \r \n \t, backslash as \\, every other byte below 0x20 or from 0x7F as \xNN.
std::string EscapeControlBytes(std::string_view bytes);

} // namespace brimlow
