#pragma once
// One connected socket of a line protocol (SNPP, SMTP, the status checks): the connect with the console's status
// texts for each failure, the line routines with the area's trace, and the close.
#include "transports/socket_lines.h"
#include "transports/trace.h"

#include <functional>
#include <string>

namespace brimlow {

using StatusSink = std::function<void(const std::string&)>;

struct LineLimits {
    int socketTimeoutMs = kSocketTimeoutMs;
    int replyLimitMs = 0; // overall wait for one reply line; 0 for none
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
    // RecvLine within the reply limit: the byte count, or -1 with an empty line when the connection closed,
    // failed or stayed silent past the limit.
    int ReadReply(std::string& line, size_t maximum);
    // RecvLineTimed.
    int ReadTimedLine(std::string& line, size_t size);

    void Close();

private:
    TraceArea m_area;
    LineLimits m_limits;
    int m_sock = -1;
};

} // namespace brimlow
