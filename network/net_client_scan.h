#pragma once
// The client's share of the console's periodic work: the start-up connect job, and the queue scan's network
// step (reconnect when wanted, the polls of changed records, the collection of this operator's tickets).
#include "console/console.h"
#include "network/net_client.h"

#include <memory>

namespace brimlow {

// Sets the network-busy flag, then runs SyncWithServer on a worker; the worker clears the flag and asks for
// "click.wav", which the next scan plays: the sound player belongs to the user-interface thread. The flag is set
// before the worker starts, so no scan can poll in between.
void StartConnectJob(Console& console, std::shared_ptr<NetClient> client);

// Copies every ticket the server offers this operator into the Tracking folder; returns how many came.
int CollectNetTickets(Console& console, NetClient& client);

// The queue scan's network step: the connect job's click, then reconnect, polls and tickets. Skipped while the
// connect job runs.
void PollServer(Console& console, NetClient& client);

// On a console that is no server and has networking enabled: makes the client (console.netClient), hooks its
// step into console.networkScanStep and starts the connect job. Does nothing otherwise.
void StartNetworkClient(Console& console);

// For the command line: makes the client (console.netClient) and connects, logs in and downloads at once.
// 1 when the console holds the server's directory afterwards; 0 when it is no client or the server failed.
int ConnectNetworkClientNow(Console& console);

} // namespace brimlow
