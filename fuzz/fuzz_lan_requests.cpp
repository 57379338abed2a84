// The server's side of the LAN: framing and the request decoders. However TCP splits the bytes, a session takes
// the same frames; every decoded record's texts end with a NUL.
#include "fuzz/fuzz_support.h"
#include "network/protocol.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace brimlow;
using namespace brimlow::lan;

template <size_t N> bool Terminated(const char (&field)[N]) {
    return memchr(field, '\0', N) != nullptr;
}

bool Terminated(const SubscriberRecord& r) {
    return Terminated(r.Name) && Terminated(r.CompanyName) && Terminated(r.Address) && Terminated(r.City) &&
           Terminated(r.State) && Terminated(r.ZIP) && Terminated(r.WorkPhone) && Terminated(r.HomePhone) &&
           Terminated(r.FAX) && Terminated(r.Cell) && Terminated(r.Email) && Terminated(r.PIN);
}

bool Terminated(const GroupRecord& g) {
    for (const auto& member : g.Members)
        if (!Terminated(member))
            return false;
    return true;
}

// The frames a session takes from the stream when it arrives cut at the given offsets: a read offset into the
// buffer, which moves once per piece.
std::vector<std::string> TakeFrames(std::string_view stream, const std::vector<size_t>& cuts) {
    std::vector<std::string> frames;
    std::string buffer;
    size_t at = 0;
    for (size_t k = 0; k <= cuts.size(); ++k) {
        size_t end = k < cuts.size() ? std::max(at, cuts[k]) : stream.size();
        buffer.append(stream.substr(at, end - at));
        at = end;
        size_t start = 0;
        for (;;) {
            FrameScan scan = ScanFrame(buffer.data() + start, buffer.size() - start);
            FUZZ_CHECK(scan.skip <= buffer.size() - start);
            start += scan.skip;
            if (!scan.complete)
                break;
            FUZZ_CHECK(scan.length >= 3 && scan.length <= buffer.size() - start);
            frames.push_back(buffer.substr(start, scan.length));
            start += scan.length;
        }
        buffer.erase(0, start);
    }
    return frames;
}

void Decode(std::string_view frame) {
    FUZZ_CHECK(frame.front() == kSoh && frame.back() == kEtx);
    int number = 0;
    switch (static_cast<Request>(frame[1])) {
    case Request::Login: {
        LoginRequest login;
        if (DecodeLogin(frame, login))
            FUZZ_CHECK(login.user.size() <= kLoginFieldSize && login.user.find(' ') == std::string::npos);
        break;
    }
    case Request::WriteCustomer:
    case Request::AddCustomer: {
        SubscriberRecord record;
        if (DecodeCustomerFrame(frame, number, record))
            FUZZ_CHECK(Terminated(record) && number >= 0 && number <= 9999);
        break;
    }
    case Request::WriteGroup:
    case Request::AddGroup: {
        auto record = std::make_unique<GroupRecord>();
        std::string name;
        bool ok = frame[1] == static_cast<char>(Request::WriteGroup) ? DecodeWriteGroup(frame, number, *record)
                                                                     : DecodeAddGroup(frame, name, *record);
        if (ok)
            FUZZ_CHECK(Terminated(*record) && name.size() <= kGroupNameFieldSize);
        break;
    }
    case Request::ServerPage: {
        ServerPageRequest page;
        if (DecodeServerPage(frame, page))
            FUZZ_CHECK(page.subject.size() < kPageSubjectSize && page.message.size() < kPageMessageSize);
        break;
    }
    case Request::ClientPage: {
        ClientPageRequest page;
        if (DecodeClientPage(frame, page))
            FUZZ_CHECK(Terminated(page.subscriber) && Terminated(page.company.Name) &&
                       Terminated(page.company.Address) && Terminated(page.company.Phone) &&
                       page.userName.size() < kClientUserNameSize && page.message.size() < kPageMessageSize);
        break;
    }
    case Request::FetchTicket:
        FUZZ_CHECK(DecodeFetchTicketName(frame).find(kEtx) == std::string::npos);
        break;
    default:
        number = DecodeIndex(frame);
        FUZZ_CHECK(number >= -1 && number <= 999999999);
        FUZZ_CHECK(DecodeFourDigits(frame) <= 9999);
        break;
    }
}

} // namespace

// The first byte says into how many pieces the rest arrives; the next bytes where it is cut.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brimlow::fuzz::Input input(data, size);
    size_t pieces = input.Number(1) % 16;
    uint64_t seed = input.Number(4);
    std::string_view stream = input.Rest();
    std::vector<size_t> cuts;
    for (size_t k = 0; k < pieces && !stream.empty(); ++k) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        cuts.push_back((seed >> 33) % (stream.size() + 1));
    }
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::string> whole = TakeFrames(stream, {});
    FUZZ_CHECK(TakeFrames(stream, cuts) == whole);
    for (const std::string& frame : whole)
        Decode(frame);
    return 0;
}
