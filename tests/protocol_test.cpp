#include "network/protocol.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <memory>

namespace brimlow::lan {
namespace {

const std::string kSohS(1, kSoh);
const std::string kEtxS(1, kEtx);

std::string Pad(const std::string& text, size_t size) {
    return text + std::string(size - text.size(), '\0');
}

// Every kind of request frame, with ETX's value all through its binary and text fields, byte for byte.
TEST(ProtocolRequests, EveryFrameByteForByte) {
    SubscriberRecord bob = test::MakeSubscriber("Bob", 4, "", 3);
    bob.LockByte = 3;
    auto group = std::make_unique<GroupRecord>();
    memset(group.get(), 3, sizeof *group);
    SetText(group->Members[0], "Ann");
    CompanyRecord acme{};
    memset(&acme, 3, sizeof acme);
    const std::string groupBytes = test::RecordBytes(*group), bobBytes = test::RecordBytes(bob), u30(30, 'u');
    const std::string etx99(99, kEtx), etx999(999, kEtx);
    for (const auto& [frame, bytes] : std::vector<std::pair<std::string, std::string>>{
             {EncodeLogin("ann", "secret123456"),
              kSohS + "0ann" + std::string(27, ' ') + "secret123456" + std::string(18, ' ') + kEtxS},
             {EncodeLogin(u30 + "overflow", "p"), kSohS + "0" + u30 + "p" + std::string(29, ' ') + kEtxS},
             {EncodeIndex(Request::LockRecord, 12), std::string("\x01\x34\x31\x32\x03", 5)},
             {EncodeIndex(Request::ReadCompany, 0), kSohS + "?0" + kEtxS},
             {EncodeEmpty(Request::CheckCust), kSohS + "8" + kEtxS},
             {EncodeWriteCustomer(7, bob), kSohS + "10007" + bobBytes + kEtxS},
             {EncodeAddCustomer(bob), kSohS + "<0000" + bobBytes + kEtxS},
             {EncodeWriteGroup(5, *group), kSohS + ":0005" + groupBytes + kEtxS},
             {EncodeAddGroup(12, "Night shift", *group),
              kSohS + "=0012Night shift" + std::string(69, ' ') + groupBytes + kEtxS},
             {EncodeServerPage(1999, kPageEmail, etx99 + "s", etx999 + "m"),
              kSohS + "B" + std::string("\xCF\x07\0\0\x02\0\0\0", 8) + Pad(etx99, 100) + Pad(etx999, 1000) + kEtxS},
             {EncodeClientPage(kPageModem, "ann", "subj", "hello", acme, bob),
              kSohS + "C" + std::string("\0\0\x01\0\0\0", 6) + Pad("ann", 31) + Pad("subj", 100) + Pad("hello", 1001) +
                  test::RecordBytes(acme) + bobBytes + kEtxS},
             {EncodeFetchTicket("00001234-ann"), kSohS + "F00001234-ann" + kEtxS}})
        EXPECT_EQ(frame, bytes);
}

// Every reply byte for byte (a Lock Owner text fits the client's one receive) and back where the client reads it;
// request decoders cut a name at its first NUL and refuse numbers that are no numbers.
TEST(ProtocolReplies, EveryReplyByteForByteAndTheDecoders) {
    SubscriberRecord r = test::MakeSubscriber("Ann Lee", -4, "12345", 3);
    int k = 0;
    for (char* field : {r.CompanyName, r.Address, r.City, r.State, r.ZIP, r.WorkPhone, r.HomePhone, r.FAX, r.Cell})
        strcpy(field, std::to_string(k++).c_str());
    SetText(r.Email, "ann@example.com");
    auto group = std::make_unique<GroupRecord>();
    for (int i = 0; i < kGroupMembers; ++i)
        SetText(group->Members[i], i == 2 ? "" : "member" + std::to_string(i));
    GroupBitmap groups{};
    SetBit(groups, 199);
    FileFindRecord found{kArchiveAttribute, 0x01020304, 0, 0, 321, "00012345-ann"};
    for (const auto& [reply, bytes] : std::vector<std::pair<std::string, std::string>>{
             {QuotedSubscriberText(r),
              R"("Ann Lee","12345","-4","3","0","1","2","3","4","5","6","7","8","ann@example.com")"},
             {EncodeReadGroupReply(*group), "002" + std::string(group->Members[0], 2 * kMemberNameSize)},
             {std::string(groups.begin(), groups.end()), std::string(24, '\0') + "\x80"},
             {EncodeFileFind(found),
              std::string("\x20\0\0\0\x04\x03\x02\x01\0\0\0\0\0\0\0\0\x41\x01\0\0", 20) + Pad("00012345-ann", 260)},
             {LockOwnerText(std::string(30, 'u'), std::string(100, 'h')),
              std::string(30, 'u') + " / " + std::string(67, 'h')}})
        EXPECT_EQ(reply, bytes);
    SubscriberRecord back{};
    DecodeQuotedSubscriberText(QuotedSubscriberText(r) + ",\"extra\"", back); // a 15th piece is ignored
    r.LockByte = 0;
    EXPECT_EQ(test::RecordBytes(back), test::RecordBytes(r));
    FileFindRecord decoded;
    EXPECT_FALSE(DecodeFileFind(EncodeFileFind(found).substr(0, 279), decoded));
    EXPECT_EQ(decoded.name[0], '\0');
    for (auto [body, index] :
         {std::pair{"21999", 1999}, {"20", 0}, {"2", -1}, {"2-1", -1}, {"212a", -1}, {"29999999999", -1}})
        EXPECT_EQ(DecodeIndex(kSohS + body + kEtxS), index) << body;
    EXPECT_EQ(DecodeFetchTicketName(kSohS + "Fab" + std::string(1, '\0') + "cd" + kEtxS), "ab");
    int slot = -1;
    std::string frame = EncodeAddCustomer(back);
    frame[3] = 'x';
    EXPECT_FALSE(DecodeCustomerFrame(frame, slot, back));
}

} // namespace
} // namespace brimlow::lan
