#pragma once
// What the LAN client tests share: a client console with its own data directory and networking on, the
// comparison of its network copy with the server's directory, and a relay that stands between a client and the
// real server.
#include "directory/data_files.h"
#include "network/net_client.h"
#include "network/protocol.h"
#include "queue/file_listing.h"
#include "tests/lan_raw_client.h"
#include "tests/support/line_peer.h"
#include "tests/support/test_console.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace brimlow::test {

struct ClientConsole {
    ClientConsole(int port, const std::string& user, const std::string& password, NetClientTimings timings = {}) {
        MakeFolder(tc.dir.File(kTrackingFolder));
        tc.console.settings.Update([&](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = user;
            s.Password = password;
        });
        client = std::make_shared<NetClient>(tc.console, timings);
        client->SetPort(port);
        tc.console.netClient = client;
    }
    Directory& Net() { return *tc.console.network; }

    // The copy holds every record of the server's directory; its entries belong to the Network tab (a free
    // slot's tab means nothing) and no lock travels.
    void ExpectCopyOf(const Directory& server) {
        for (int s = 0; s < kSubscriberSlots; ++s) {
            SubscriberRecord want = server.subscribers[s];
            want.Tab = IsEmptyText(want.Name) ? Net().subscribers[s].Tab : kNetworkTab;
            want.LockByte = 0;
            ASSERT_EQ(memcmp(&Net().subscribers[s], &want, sizeof want), 0) << s;
        }
        EXPECT_EQ(memcmp(Net().groups.data(), server.groups.data(), sizeof server.groups), 0);
        EXPECT_EQ(memcmp(Net().companies.data(), server.companies.data(), sizeof server.companies), 0);
    }

    TestConsole tc;
    std::shared_ptr<NetClient> client;
};

// Passes a client's requests to the server on serverPort and the replies back; it records each request whole,
// and a test may answer any request in the server's place: junk, a short reply, a close in mid-reply.
class LanRelay {
public:
    struct Reply {
        std::string bytes;
        bool close = false; // close the connection after sending bytes
    };
    explicit LanRelay(int serverPort) : m_serverPort(serverPort), m_peer([this](PeerSession& s) { Relay(s); }) {}
    int Port() const { return m_peer.Port(); }
    int Connections() const { return m_peer.Connections(); }

    // Every request of code gets reply instead of the server's, until ClearAnswers.
    void Answer(char code, const Reply& reply) {
        std::lock_guard lock(m_mutex);
        m_answers[code] = reply;
    }
    void ClearAnswers() {
        std::lock_guard lock(m_mutex);
        m_answers.clear();
    }
    // The requests since the last call.
    std::vector<std::string> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_requests, {});
    }
    // Their codes, one character each.
    std::string TakeCodes() {
        std::string codes;
        for (const std::string& r : Take())
            codes.push_back(r[1]);
        return codes;
    }

private:
    void Relay(PeerSession& client) {
        RawClient server(m_serverPort, false);
        std::string pending;
        char chunk[20000];
        for (;;) {
            pollfd fds[2] = {{client.Fd(), POLLIN, 0}, {server.Fd(), POLLIN, 0}};
            poll(fds, 2, -1);
            ssize_t n = recv(fds[1].revents ? server.Fd() : client.Fd(), chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            if (fds[1].revents) {
                client.Send(std::string(chunk, static_cast<size_t>(n)));
                continue;
            }
            pending.append(chunk, static_cast<size_t>(n));
            for (lan::FrameScan scan; (scan = lan::ScanFrame(pending.data(), pending.size())).complete;) {
                std::string request = pending.substr(scan.skip, scan.length);
                pending.erase(0, scan.skip + scan.length);
                std::optional<Reply> reply;
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.push_back(request);
                    if (auto answer = m_answers.find(request[1]); answer != m_answers.end())
                        reply = answer->second;
                }
                if (!reply)
                    server.Send(request);
                else if (client.Send(reply->bytes); reply->close)
                    return;
            }
        }
    }

    int m_serverPort;
    std::mutex m_mutex;
    std::map<char, Reply> m_answers;
    std::vector<std::string> m_requests;
    LinePeer m_peer; // last: its sessions use everything above
};

} // namespace brimlow::test
