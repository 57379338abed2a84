#pragma once
// Emptying the disk queue: the Purge button, and a company's own Purge Queue.
#include "console/console.h"

namespace brimlow {

// Every root SNPP page D/MSG*.* and every held or ready modem page D/n/MS*.*. E-mail packets and the network
// queue stay. Returns the number of files deleted; failed, when given, counts the files that could not be
// deleted (a file already gone is no failure).
int PurgeAll(Console& console, int* failed = nullptr);

// Company n's folder D/n/MS*.* when its queue folder flag is set, else the root SNPP pages of every company.
// A company number out of range deletes nothing.
int PurgeCompany(Console& console, int company);

} // namespace brimlow
