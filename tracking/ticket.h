#pragma once
// Tracking tickets: one text file per two-way SNPP page in the data directory's Tracking folder. The name says
// how to reach the server again; the content is the stored reply count, the page, then each status reply:
//   0000 CR LF, SEND reply CR LF, 24-character date CR LF, subscriber CR LF, PIN CR LF, text CR LF, replies...
#include "console/console.h"

#include <cstdint>
#include <string>

namespace brimlow {

constexpr size_t kTicketCountHeadSize = 20; // the bytes read back for the stored count

// Where the server of a ticket is found: a slot of the local or the network company table, or an address and
// port carried in the name itself.
struct TicketSource {
    enum class Form { LocalIndex, NetworkIndex, Host };
    Form form = Form::LocalIndex;
    int companyIndex = 0;
    std::string address;
    int port = 0;
    std::string owner; // the network user the page was sent for; empty for the console's own pages
};

// The message tag and pass code of a two-way SEND reply ("960 tag pass ..."). A reply that lacks them gives
// tag 0 and pass code 0, so the page still leaves a ticket (its reply line shows what the server said); a
// later such page to the same subscriber and company replaces it.
struct TicketNumbers {
    uint64_t tag = 0;
    int pass = 0;
};
TicketNumbers ParseSendReply(const std::string& reply);

// A text made safe for one part of a ticket name: "." (the name's field separator) and "/" become blanks.
std::string TicketNamePart(const std::string& text);
// An address made safe for the host form of a ticket name: "-" (the form's field separator) and "/" become
// blanks. No address that a connection was made to holds a blank, so a blank reads back as "-".
std::string TicketAddressPart(const std::string& address);
// Lower-cases A to Z only.
std::string LowerAscii(const std::string& text);
// "-" and the owner lower-cased, with "/" as a blank; empty for an empty owner.
std::string OwnerSuffix(const std::string& owner);

// "name.tag.pass.index", "name.tag.pass.indexN", "name.tag.pass.index-owner", "name.tag.pass-address-port",
// "name.tag.pass-address-port-owner". The name holds no "." and the address no "-", so every name reads back
// (ParseTicketName) whatever "-" the name, the address or the owner hold.
std::string TicketFileName(const std::string& subscriberName, const TicketNumbers& numbers,
                           const TicketSource& source);

std::string TicketPath(const Console& console, const std::string& fileName);

// Creates (or truncates) the ticket with its six lines and sets its unread mark. Returns false when the file
// could not be created.
bool CreateTicket(Console& console, const std::string& fileName, const std::string& sendReply,
                  const std::string& subscriberName, const std::string& pin, const std::string& text);

} // namespace brimlow
