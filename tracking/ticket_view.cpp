#include "tracking/ticket_view.h"

#include <cstdlib>
#include <fstream>

namespace brimlow {
namespace {

// The reads of a text-mode stream: CR LF arrives as one LF, and a read ends after a LF or after 199 characters.
class TicketReader {
public:
    explicit TicketReader(const std::string& path) : m_in(path, std::ios::binary) {}
    bool IsOpen() const { return m_in.is_open(); }

    // The next piece without its LF; false at the end of the file.
    bool Read(std::string& piece) {
        piece.clear();
        char c;
        while (piece.size() < kTicketReadSize && m_left > 0 && m_in.get(c)) {
            --m_left;
            if (c == '\r' && m_in.peek() == '\n')
                continue;
            if (c == '\n')
                return true;
            piece += c;
        }
        return !piece.empty();
    }

private:
    std::ifstream m_in;
    size_t m_left = kMaxTicketViewBytes;
};

bool IsTagLine(const std::string& line) { return atoi(line.substr(0, 3).c_str()) == 960; }

// The 960 line that ended the message shows from its 40th character; the lines after it skip a blank there.
void AddReply(std::string& replies, const std::string& line, bool skipBlank) {
    if (line.size() <= kReplyTextColumn)
        return;
    size_t from = skipBlank && line[kReplyTextColumn] == ' ' ? kReplyTextColumn + 1 : kReplyTextColumn;
    replies += line.substr(from) + "\n";
}

} // namespace

std::optional<TicketView> ReadTicketView(const std::string& path) {
    TicketReader reader(path);
    if (!reader.IsOpen())
        return std::nullopt;
    TicketView view;
    std::string line;
    reader.Read(line); // the stored count
    reader.Read(line); // the SEND reply
    for (std::string* field : {&view.date, &view.name, &view.pin})
        if (reader.Read(line))
            *field = line;
    bool tagLineFound = false;
    while (reader.Read(line)) {
        if (IsTagLine(line)) {
            tagLineFound = true;
            break;
        }
        view.message += line + "\n";
    }
    if (tagLineFound) {
        AddReply(view.replies, line, false);
        while (reader.Read(line))
            AddReply(view.replies, line, true);
    }
    return view;
}

} // namespace brimlow
