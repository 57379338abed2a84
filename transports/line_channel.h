#pragma once
// One connected socket of a line protocol (SNPP, SMTP, the status checks): the connect with the console's status
// texts for each failure, the line routines with the area's trace, QUIT and the close.
#include "transports/socket_lines.h"
#include "transports/trace.h"

#include <functional>
#include <string>
#include <vector>

namespace brimlow {

using StatusSink = std::function<void(const std::string&)>;

struct LineLimits {
    int socketTimeoutMs = kSocketTimeoutMs;
    int replyLimitMs = 0; // overall wait for one reply; 0 for none
    int quitLimitMs = 2000; // the reply to QUIT is not worth waiting long for
};

// The status line for a reply that never came.
inline std::string NoReplyText(const std::string& server) { return "No reply from " + server; }

class LineChannel {
public:
    LineChannel(TraceArea area, const LineLimits& limits) : m_area(area), m_limits(limits) {}
    ~LineChannel() { Close(); }
    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    // Resolution, socket, time-outs and connect; each failure posts its status text ("Unable to resolve %s",
    // "Unable to create socket to %s", "Failed to set recv timeout: %d", "Failed to set send timeout: %d",
    // "Unable to connect to %s") and returns false.
    bool Connect(const std::string& address, int port, const StatusSink& post);

    // SendText: CR before a bare LF, one call; 0 or -1.
    int SendLine(const std::string& text);
    // The bytes as they are.
    bool SendRaw(const std::string& bytes);
    // One reply, its lines up to the deciding last one, within the reply limit; false with no lines when the
    // connection closed, failed or stayed silent past the limit.
    bool ReadReply(std::vector<std::string>& lines, size_t maximum);
    // RecvLineTimed.
    int ReadTimedLine(std::string& line, size_t size);
    // Sends QUIT, waits a short time for its reply, closes. The session ends so whatever came before it, a
    // refusal too.
    void Quit();

    void Close();

private:
    bool ReadReplyWithin(std::vector<std::string>& lines, size_t maximum, int limitMs);

    TraceArea m_area;
    LineLimits m_limits;
    SocketReader m_reader;
};

} // namespace brimlow
