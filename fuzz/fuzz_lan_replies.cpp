// The client's side of the LAN: the decoders of the server's replies. Whatever a server sends, every decoded
// text ends with a NUL and every count stays in its range.
#include "fuzz/fuzz_support.h"
#include "network/protocol.h"

#include <cstring>
#include <memory>

namespace {

using namespace brimlow;
using namespace brimlow::lan;

template <size_t N> bool Terminated(const char (&field)[N]) {
    return memchr(field, '\0', N) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReplyValue(bytes);

    SubscriberRecord record;
    DecodeQuotedSubscriberText(bytes, record);
    FUZZ_CHECK(Terminated(record.Name) && Terminated(record.PIN) && Terminated(record.CompanyName) &&
               Terminated(record.Address) && Terminated(record.City) && Terminated(record.State) &&
               Terminated(record.ZIP) && Terminated(record.WorkPhone) && Terminated(record.HomePhone) &&
               Terminated(record.FAX) && Terminated(record.Cell) && Terminated(record.Email));
    FUZZ_CHECK(record.LockByte == 0);

    // The Read Group reply: three digits of count, then the members.
    auto group = std::make_unique<GroupRecord>();
    int count = ReplyValue(bytes.substr(0, 3));
    DecodeReadGroupMembers(bytes.substr(std::min<size_t>(3, size)), count, *group);
    for (const auto& member : group->Members)
        FUZZ_CHECK(Terminated(member));
    FUZZ_CHECK(GroupMemberCount(*group) <= kGroupMembers);

    FileFindRecord found;
    if (DecodeFileFind(bytes, found))
        FUZZ_CHECK(Terminated(found.name));
    for (int k = -1; k <= 2001; k += 7)
        TestBit(bytes, k);
    return 0;
}
