#pragma once
// Line-oriented socket routines shared by SNPP, SMTP, the status checks and the LAN client, and the connect
// sequence with its resolution rules. Sockets carry send and receive time-outs; a receive that times out is
// repeated where the protocol says so.
#include <cstddef>
#include <string>

namespace brimlow {

constexpr int kSocketTimeoutMs = 10000;
constexpr size_t kSendTextLimit = 2000;

// Copies the text with CR inserted before every LF that has none, cut at 2,000 bytes, and sends it in one call.
// 0 when the call moved bytes or timed out, -1 otherwise.
int SendText(int sock, const std::string& text);

// Sends raw bytes in one call (requests built in one buffer). Returns true when every byte left.
bool SendBytes(int sock, const void* data, size_t size);

// Receives until CR LF or maximum bytes; a backspace removes the last byte; a receive that times out is
// repeated. overallLimitMs bounds the whole wait (0: unbounded, as long as the connection stays open).
// Returns the number of bytes accumulated and the line cut at its first CR or LF, or -1 with an empty line
// when the connection closed or failed.
int RecvLine(int sock, std::string& line, size_t maximum, int overallLimitMs = 0);

// The next waiting byte without removing it, waiting up to the socket's receive time-out; 0 when none.
int PeekByte(int sock);

// One byte within whole seconds; 0 on time-out, -1 on error.
int RecvByteTimed(int sock, int seconds);

// Up to size bytes within 60 seconds until CR LF. Three seconds without a byte end the line with what has come
// (the status list of a server that omits its 259 line then costs three seconds, not a minute). NUL bytes are
// dropped; the line is cut at its first CR or LF. Returns the bytes taken.
int RecvLineTimed(int sock, std::string& line, size_t size);

// False exactly for replies whose first three characters are 500..599.
bool ReplyOk(const std::string& line);
// The decimal value of the first three characters, 0 when they are not digits.
int ReplyCode(const std::string& line);

// Receives exactly size bytes unless the connection fails; time-outs are repeated when retryOnTimeout, for at
// most overallLimitMs in all (0: as long as the connection stays open). Returns the bytes received.
size_t RecvExact(int sock, void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs = 0);

// What one receive returns, up to size bytes; time-outs are repeated as for RecvExact. Returns the bytes
// received, 0 when the connection closed, failed or stayed silent.
size_t RecvSome(int sock, void* buffer, size_t size, bool retryOnTimeout, int overallLimitMs = 0);

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
