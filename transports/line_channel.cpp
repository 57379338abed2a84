#include "transports/line_channel.h"

namespace brimlow {

namespace {
constexpr size_t kQuitReplySize = 200;
}

bool LineChannel::Connect(const std::string& address, int port, const StatusSink& post) {
    Close();
    ConnectResult result = ConnectTcp(address, port, m_limits.socketTimeoutMs);
    switch (result.error) {
    case ConnectError::None:
        m_reader = SocketReader(result.sock);
        return true;
    case ConnectError::Resolve:
        post("Unable to resolve " + address);
        break;
    case ConnectError::Socket:
        post("Unable to create socket to " + address);
        break;
    case ConnectError::RecvTimeout:
        post("Failed to set recv timeout: " + std::to_string(result.socketError));
        break;
    case ConnectError::SendTimeout:
        post("Failed to set send timeout: " + std::to_string(result.socketError));
        break;
    case ConnectError::Connect:
        post("Unable to connect to " + address);
        break;
    }
    return false;
}

int LineChannel::SendLine(const std::string& text) {
    TraceBytes(m_area, true, text);
    return SendText(m_reader.Socket(), text);
}

bool LineChannel::SendRaw(const std::string& bytes) {
    TraceBytes(m_area, true, bytes);
    return SendBytes(m_reader.Socket(), bytes.data(), bytes.size());
}

bool LineChannel::ReadReply(std::vector<std::string>& lines, size_t maximum) {
    return ReadReplyWithin(lines, maximum, m_limits.replyLimitMs);
}

bool LineChannel::ReadReplyWithin(std::vector<std::string>& lines, size_t maximum, int limitMs) {
    bool answered = m_reader.RecvReply(lines, maximum, limitMs);
    if (!answered)
        TraceBytes(m_area, false, "(no reply)");
    for (const std::string& line : lines)
        TraceBytes(m_area, false, line);
    return answered;
}

int LineChannel::ReadTimedLine(std::string& line, size_t size) {
    int n = m_reader.RecvLineTimed(line, size);
    TraceBytes(m_area, false, line);
    return n;
}

void LineChannel::Quit() {
    if (m_reader.Socket() >= 0 && SendLine("QUIT\r\n") == 0) {
        std::vector<std::string> reply;
        ReadReplyWithin(reply, kQuitReplySize, m_limits.quitLimitMs);
    }
    Close();
}

void LineChannel::Close() {
    CloseSocket(m_reader.Socket());
    m_reader = SocketReader();
}

} // namespace brimlow
