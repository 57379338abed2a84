#pragma once
// A ticket as the Tracking dialog shows it. The ticket is read the way the console always has: one line at a
// time, each read taking at most 199 characters, so a longer line shows in pieces. The first line whose first
// three characters read as 960 ends the message; the replies are that line and the later ones from their 40th
// character on, where the status reply's own text begins.
#include <optional>
#include <string>

namespace brimlow {

constexpr size_t kTicketReadSize = 199;
constexpr size_t kReplyTextColumn = 39;         // 0-based: the 40th character
constexpr size_t kMaxTicketViewBytes = 4 << 20; // more than 9,999 full replies; the rest is not shown

// Line breaks are "\n"; Message and Replies end each of their lines with one.
struct TicketView {
    std::string date;
    std::string name;
    std::string pin;
    std::string message;
    std::string replies;
};

// Empty when the ticket cannot be opened.
std::optional<TicketView> ReadTicketView(const std::string& path);

} // namespace brimlow
