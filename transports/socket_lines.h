#pragma once
// Line-oriented socket routines shared by SNPP, SMTP, the status checks and the LAN client, and the connect
// sequence with its resolution rules. Sockets carry send and receive time-outs; a receive that times out is
// repeated where the protocol says so.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brimlow {

constexpr int kSocketTimeoutMs = 10000;
constexpr size_t kSendTextLimit = 2000;
// A reply of more continuation lines than this is no reply a paging or mail server gives.
constexpr size_t kReplyLineLimit = 100;

// Copies the text with CR inserted before every LF that has none, cut at 2,000 bytes, and sends it in one call.
// 0 when the call moved bytes or timed out, -1 otherwise.
int SendText(int sock, const std::string& text);

// Sends raw bytes in one call (requests built in one buffer). Returns true when every byte left.
bool SendBytes(int sock, const void* data, size_t size);

// Every read of one connected socket, which it does not own. What arrives after the bytes a read takes stays here
// for the next read of the same connection, so that two replies in one packet, or one reply split over several,
// are both read in step. At most one receive's worth is held.
class SocketReader {
public:
    SocketReader() = default;
    explicit SocketReader(int sock) : m_sock(sock) {}
    int Socket() const { return m_sock; }

    // Takes bytes until CR LF or maximum bytes; a backspace removes the last byte (never below empty); a receive
    // that times out is repeated. overallLimitMs bounds the whole wait (0: as long as the connection stays open).
    // Returns the bytes taken and the line cut at its first CR or LF, or -1 with an empty line when the connection
    // closed or failed or stayed silent past the limit. The rest of a line longer than maximum is left for the next
    // read.
    int RecvLine(std::string& line, size_t maximum, int overallLimitMs = 0);

    // One reply of a line protocol (RFC 5321 4.2.1): "xyz-text" lines up to the first line that is not one, which
    // is the one that decides. Each line as RecvLine takes it, cut at maximum bytes, the rest of a longer line
    // skipped. False, with no lines, when the whole reply did not come within overallLimitMs.
    bool RecvReply(std::vector<std::string>& lines, size_t maximum, int overallLimitMs);

    // Up to size bytes within 60 seconds until CR LF. Three seconds without a byte end the line with what has come
    // (the status list of a server that omits its 259 line then costs three seconds, not a minute). NUL bytes are
    // dropped; the line is cut at its first CR or LF. Returns the bytes taken.
    int RecvLineTimed(std::string& line, size_t size);

    // Exactly size bytes unless the connection fails; time-outs are repeated when retryOnTimeout, for at most
    // overallLimitMs in all (0: as long as the connection stays open). Returns the bytes taken.
    size_t RecvExact(void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs = 0);

    // What one receive brings (or what is held already), up to size bytes; time-outs as for RecvExact. Returns the
    // bytes taken, 0 when the connection closed, failed or stayed silent.
    size_t RecvSome(void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs = 0);

private:
    enum class LineEnd { Whole, Full, Failed };
    // The bytes of one line into acc, with the backspace rule; deadline 0 for none.
    LineEnd TakeLine(std::string& acc, size_t maximum, int64_t deadline);
    bool SkipRestOfLine(char last, int64_t deadline);
    enum class Received { Bytes, Silent, Closed };
    // Appends what one receive brings, waiting at most waitMs (-1: the socket's receive time-out).
    Received Receive(int waitMs);
    // Receive, with time-outs repeated while retry and the deadline allow.
    bool ReceiveMore(bool retry, int64_t deadline);

    int m_sock = -1;
    std::string m_pending;
};

// A positive reply: anything but 4xx (temporary failure, or a server closing the connection) and 5xx (refusal).
bool ReplyOk(const std::string& line);
// 5xx: the server will not take this, now or later.
bool ReplyPermanent(const std::string& line);
// The decimal value of the first three characters, 0 when they are not digits.
int ReplyCode(const std::string& line);

enum class ConnectError { None, Resolve, Socket, RecvTimeout, SendTimeout, Connect };

struct ConnectResult {
    int sock = -1;
    ConnectError error = ConnectError::None;
    int socketError = 0; // errno of a failed time-out setting
};

// Resolution as the console always did it: a text with a letter is looked up by name (its first address);
// otherwise, or when the look-up fails, it must be a dotted IPv4 address. Then a TCP socket with receive and
// send time-outs, and the connect.
ConnectResult ConnectTcp(const std::string& address, int port, int timeoutMs = kSocketTimeoutMs);

// Closes with linger on and time 0, so the peer sees a reset and no TIME_WAIT is left.
void CloseAbortive(int sock);
void CloseSocket(int sock);

bool ContainsLetter(const std::string& text);

} // namespace brimlow
