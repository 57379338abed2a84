// The socket line readers that SNPP, SMTP, the status checks and the LAN client use, on whatever a peer sends
// before it closes: each ends, keeps to its bounds and hands back no line end.
#include "fuzz/fuzz_support.h"
#include "transports/socket_lines.h"

#include <sys/socket.h>
#include <vector>

namespace {

using namespace brimlow;

} // namespace

// The first byte picks the reader and its bound; the rest is what the peer sends, then it closes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    int pick = static_cast<int>(input.Number(1));
    size_t bound = 1 + input.Number(2) % 4096;
    std::string_view sent = input.Rest().substr(0, 16384); // within the socket's buffer, so one write takes it
    int pair[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
    FUZZ_CHECK(SendBytes(pair[1], sent.data(), sent.size()) || sent.empty());
    shutdown(pair[1], SHUT_WR);
    SocketReader reader(pair[0]);
    std::string line;
    std::vector<std::string> reply;
    std::string buffer(bound, '\0');
    for (int k = 0; k < 4; ++k) { // a few reads one after the other on one reader, as a protocol does
        switch (pick % 5) {
        case 0: {
            int n = reader.RecvLine(line, bound);
            FUZZ_CHECK(n <= static_cast<int>(bound) && line.find_first_of("\r\n") == std::string::npos);
            break;
        }
        case 1: {
            int n = reader.RecvLineTimed(line, bound);
            FUZZ_CHECK(n <= static_cast<int>(bound) && line.size() <= bound);
            FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
            break;
        }
        case 2:
            FUZZ_CHECK(reader.RecvExact(buffer.data(), bound, true) <= bound);
            break;
        case 3:
            if (reader.RecvReply(reply, bound, 1000)) {
                FUZZ_CHECK(!reply.empty() && reply.size() <= kReplyLineLimit + 1);
                ReplyOk(reply.back());
                ReplyPermanent(reply.back());
                ReplyCode(reply.back());
            }
            break;
        default:
            FUZZ_CHECK(reader.RecvSome(buffer.data(), bound, true) <= bound);
            break;
        }
    }
    close(pair[0]);
    close(pair[1]);
    return 0;
}
