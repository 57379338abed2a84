#include "network/net_client_scan.h"

#include "console/play_sound.h"

namespace brimlow {

void StartConnectJob(Console& console, std::shared_ptr<NetClient> client) {
    console.networkBusy = 1;
    bool started = console.StartWorker([&console, client = std::move(client)] {
        client->SyncWithServer();
        client->WantClick();
        console.networkBusy = 0;
    });
    if (!started) {
        // The next scan connects instead.
        console.networkBusy = 0;
        console.reconnectWanted = 1;
    }
}

int CollectNetTickets(Console& console, NetClient& client) {
    int collected = 0;
    FileFindRecord record;
    // A server that offered the same ticket for ever must not hold the scan: the rest waits for the next one.
    int offered = 0;
    for (int more = client.FirstNetTicket(record); more == 1 && offered < kTicketsPerScan;
         more = client.NextNetTicket(record), ++offered) {
        std::string name = GetText(record.name);
        if (!IsSafeTicketName(name))
            continue; // never a file here; not shown either, or every scan would show it again
        console.op->AddResultLine(name);
        client.FetchNetTicket(name);
        console.received = 1;
        console.secondRefresh = 1;
        console.trackingRefresh = 1;
        ++collected;
    }
    return collected;
}

void PollServer(Console& console, NetClient& client) {
    if (console.networkBusy)
        return;
    if (client.TakeClickWanted())
        PlaySoundFile(console, kClickSound);
    if (console.reconnectWanted.exchange(0))
        client.SyncWithServer();
    if (client.CheckNetSubscribers())
        console.secondRefresh = 1;
    if (client.CheckNetGroups())
        console.secondRefresh = 1;
    if (!console.serverRole && console.settings.Get().NetworkEnabled)
        CollectNetTickets(console, client);
}

void StartNetworkClient(Console& console) {
    if (console.serverRole || !console.settings.Get().NetworkEnabled)
        return;
    auto client = std::make_shared<NetClient>(console);
    console.netClient = client;
    console.networkScanStep = [&console, raw = client.get()] { PollServer(console, *raw); };
    StartConnectJob(console, client);
}

int ConnectNetworkClientNow(Console& console) {
    if (console.serverRole || !console.settings.Get().NetworkEnabled)
        return 0;
    console.netClient = std::make_shared<NetClient>(console);
    return console.netClient->SyncWithServer();
}

} // namespace brimlow
