#pragma once
// The writers of the disk queue: the Queue button, the per-recipient writer shared with Send, the server's
// direct writer for its own subscribers, and the intake of a client's modem page.
#include "console/console.h"

#include <string>
#include <vector>

namespace brimlow {

constexpr const char* kQueueFolder = "Queue";
constexpr const char* kCompanyDatFile = "Company.dat";
constexpr size_t kMessageFieldLimit = 999;
constexpr size_t kSubjectFieldLimit = 99;
constexpr size_t kQueuedTextLimit = 1009;

constexpr const char* kNoMessageError = "You must type a message to send!";
constexpr const char* kNoSelectionError = "You must select a subscriber to send the message to!";
constexpr const char* kQueueFileError = "Error creating queue file!";
constexpr const char* kSendError = "Error sending message!";

// The page text as it is sent: at most 999 characters of the message, then the signature when attached.
std::string PageText(const Console& console, const ComposedPage& page);
// The page text as the queue stores it: PageText cut to 1,009 characters.
std::string QueuedText(const Console& console, const ComposedPage& page);

// The Messages.LOG line of one page: "%s Sub: %s Msg: %s\n", or "%s Msg: %s\n" without a subject.
std::string MessageLogLine(const std::string& name, const std::string& subject, const std::string& text);

// The slot of the k-th item of the subscriber list on a tab: the item index itself on the Network tab, else
// the slot of the k-th local record whose Tab equals the tab. -1 when there is none. Under "DatabaseLock".
int ResolveListItem(const Console& console, int tab, int itemIndex);

// Queues the page for one recipient record by the send mode; false when a queue file could not be created (the
// error has been shown).
bool QueueRecord(Console& console, const ComposedPage& page, const SubscriberRecord& record);
// Queues the page for one entry (a subscriber, or every member of a group) by the send mode. Returns false
// when a queue file could not be created; the whole operation then ends.
bool QueueForSubscriber(Console& console, const ComposedPage& page, int slot);

// The Queue button: selectedItems are the selected list item indexes. Returns the number of items queued (0
// after an error, which has been shown).
int Queue(Console& console, const ComposedPage& page, const std::vector<int>& selectedItems);

// A page for a subscriber of the local directory, ready to dial at once. Returns 1 or 0.
int WriteDirectPage(Console& console, int slot, const std::string& text);

// An SNPP page for a subscriber of the local directory, for the next send-queue worker run. Returns 1 or 0.
int WriteSnppQueuePage(Console& console, const SubscriberRecord& record, const std::string& text);

// A client's modem page: D/Queue/user/n/Company.dat and one network message file. The user name becomes a
// folder name, so it is refused when it could leave the Queue folder. Returns 1 or 0.
int WriteServerIntake(Console& console, const std::string& userName, const CompanyRecord& company,
                      const SubscriberRecord& subscriber, const std::string& text);

// A name from outside (a network user, a subscriber) made safe to use as one path component: "/" becomes a
// blank. Empty, ".", ".." are refused with an empty result.
std::string SafePathComponent(const std::string& name);

} // namespace brimlow
