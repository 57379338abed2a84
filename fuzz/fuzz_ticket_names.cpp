// Ticket names and the SEND reply that gives a ticket its numbers. Any name is read safely; every name the
// console writes reads back as the parts it was written from, whatever the texts hold.
#include "fuzz/fuzz_support.h"
#include "tracking/ticket.h"
#include "tracking/ticket_check.h"

namespace {

using namespace brimlow;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string whole(reinterpret_cast<const char*>(data), size);
    if (std::optional<TicketTarget> any = ParseTicketName(whole))
        FUZZ_CHECK(any->hostForm ? any->port >= 0 && any->port <= 65535 : IsValidCompanyIndex(any->companyIndex));
    ParseSendReply(whole);

    fuzz::Input input(data, size);
    TicketNumbers numbers{input.Number(8), static_cast<int>(input.Number(4))};
    TicketSource source;
    source.form = static_cast<TicketSource::Form>(input.Number(1) % 3);
    source.companyIndex = static_cast<int>(input.Number(1) % kCompanySlots);
    source.port = static_cast<int>(input.Number(2));
    std::string subscriber = input.Text();
    source.address = input.Text();
    source.owner = input.Text();
    // No address a connection was made to holds a blank or a "/", nor does a text field of a record hold a NUL.
    std::erase(source.address, ' ');
    std::erase(source.address, '/');
    for (std::string* text : {&subscriber, &source.address, &source.owner})
        std::erase(*text, '\0');

    std::string name = TicketFileName(subscriber, numbers, source);
    std::optional<TicketTarget> target = ParseTicketName(name);
    FUZZ_CHECK(target.has_value());
    bool host = source.form == TicketSource::Form::Host;
    FUZZ_CHECK(target->tag == numbers.tag && target->pass == numbers.pass && target->hostForm == host);
    FUZZ_CHECK(target->networkDirectory == (source.form == TicketSource::Form::NetworkIndex));
    FUZZ_CHECK(host ? target->host == source.address && target->port == source.port
                    : target->companyIndex == source.companyIndex);
    std::string owner = source.form == TicketSource::Form::NetworkIndex ? "" : OwnerSuffix(source.owner);
    FUZZ_CHECK(target->owner == (owner.empty() ? "" : owner.substr(1)));
    return 0;
}
