#include "transports/line_channel.h"

namespace brimlow {

bool LineChannel::Connect(const std::string& address, int port, const StatusSink& post) {
    Close();
    ConnectResult result = ConnectTcp(address, port, m_limits.socketTimeoutMs);
    switch (result.error) {
    case ConnectError::None:
        m_sock = result.sock;
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
    return SendText(m_sock, text);
}

bool LineChannel::SendRaw(const std::string& bytes) {
    TraceBytes(m_area, true, bytes);
    return SendBytes(m_sock, bytes.data(), bytes.size());
}

int LineChannel::ReadReply(std::string& line, size_t maximum) {
    int n = RecvLine(m_sock, line, maximum, m_limits.replyLimitMs);
    TraceBytes(m_area, false, n < 0 ? std::string("(no reply)") : line);
    return n;
}

int LineChannel::ReadTimedLine(std::string& line, size_t size) {
    int n = RecvLineTimed(m_sock, line, size);
    TraceBytes(m_area, false, line);
    return n;
}

void LineChannel::Close() {
    CloseSocket(m_sock);
    m_sock = -1;
}

} // namespace brimlow
