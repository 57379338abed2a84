#include "network/protocol.h"
#include "tests/support/test_console.h"

#include <gtest/gtest.h>
#include <memory>

namespace brimlow::lan {
namespace {

const std::string kSohS(1, kSoh);
const std::string kEtxS(1, kEtx);

TEST(ProtocolRequests, LoginPadsBothFieldsWithSpacesAndIsCutAtTheirFirstSpace) {
    std::string frame = EncodeLogin("ann", "secret123456");
    EXPECT_EQ(frame, kSohS + "0" + "ann" + std::string(27, ' ') + "secret123456" + std::string(18, ' ') + kEtxS);
    std::string thirty(30, 'u');
    frame = EncodeLogin(thirty + "overflow", "p");
    EXPECT_EQ(frame.substr(2, 30), thirty);
    EXPECT_EQ(frame.size(), 63u);

    LoginRequest login;
    ASSERT_TRUE(DecodeLogin(frame, login));
    EXPECT_EQ(login.user, thirty);
    EXPECT_EQ(login.password, "p");
    ASSERT_TRUE(DecodeLogin(EncodeLogin("ann smith", "pass word"), login));
    EXPECT_EQ(login.user, "ann");
    EXPECT_EQ(login.password, "pass");
    EXPECT_FALSE(DecodeLogin(frame.substr(0, 62), login));
}

TEST(ProtocolRequests, IndexRequestsAreDecimalWithoutPadding) {
    EXPECT_EQ(EncodeIndex(Request::LockRecord, 12), std::string("\x01\x34\x31\x32\x03", 5));
    EXPECT_EQ(EncodeIndex(Request::ReadCustomer, 0), kSohS + "20" + kEtxS);
    EXPECT_EQ(EncodeIndex(Request::ReadCompany, 99), kSohS + "?99" + kEtxS);
    EXPECT_EQ(EncodeEmpty(Request::CheckCust), kSohS + "8" + kEtxS);
    for (auto [body, index] :
         {std::pair{"21999", 1999}, {"20", 0}, {"2", -1}, {"2-1", -1}, {"212a", -1}, {"29999999999", -1}})
        EXPECT_EQ(DecodeIndex(kSohS + body + kEtxS), index) << body;
}

TEST(ProtocolRequests, WriteAndAddCustomerCarryTheRecordAfterFourDigits) {
    SubscriberRecord rec = test::MakeSubscriber("Bob", 4, "", 3);
    std::string frame = EncodeWriteCustomer(7, rec);
    ASSERT_EQ(frame.size(), 543u);
    EXPECT_EQ(frame.substr(0, 6), kSohS + "10007");
    EXPECT_EQ(frame.substr(6, 3), "Bob");
    EXPECT_EQ(static_cast<uint8_t>(frame[6 + 80]), 3); // the Tab byte is ETX's value
    EXPECT_EQ(frame[542], kEtx);

    int slot = -1;
    SubscriberRecord back{};
    ASSERT_TRUE(DecodeCustomerFrame(frame, slot, back));
    EXPECT_EQ(slot, 7);
    EXPECT_EQ(memcmp(&back, &rec, sizeof rec), 0);

    // Text fields filled to their last byte by the sender end with a NUL once decoded.
    SubscriberRecord brim{};
    memset(&brim, 'x', sizeof brim);
    ASSERT_TRUE(DecodeCustomerFrame(EncodeWriteCustomer(3, brim), slot, back));
    EXPECT_EQ(strlen(back.Name), 78u);
    EXPECT_EQ(strlen(back.Email), 80u);
    EXPECT_EQ(strlen(back.PIN), 20u);
    EXPECT_EQ(back.LockByte, 'x');

    frame = EncodeAddCustomer(rec);
    EXPECT_EQ(frame.substr(0, 6), kSohS + "<0000");
    EXPECT_EQ(frame.size(), 543u);
    frame[3] = 'x';
    EXPECT_FALSE(DecodeCustomerFrame(frame, slot, back));
}

TEST(ProtocolRequests, GroupWritesCarryTheNamePaddedTo80AndTheRecordAt86) {
    auto group = std::make_unique<GroupRecord>();
    memset(group.get(), 0, sizeof *group);
    SetText(group->Members[0], "Ann");
    SetText(group->Members[199], "Zed");

    std::string write = EncodeWriteGroup(5, *group);
    ASSERT_EQ(write.size(), 16207u);
    EXPECT_EQ(write.substr(0, 6), kSohS + ":0005");
    EXPECT_EQ(write.substr(6, 3), "Ann");
    EXPECT_EQ(write.back(), kEtx);

    std::string add = EncodeAddGroup(12, "Night shift", *group);
    ASSERT_EQ(add.size(), 16287u);
    EXPECT_EQ(add.substr(0, 6), kSohS + "=0012");
    EXPECT_EQ(add.substr(6, 80), "Night shift" + std::string(69, ' '));
    EXPECT_EQ(add.substr(86, 3), "Ann");
    EXPECT_EQ(add.substr(86 + 199 * 81, 3), "Zed");
    EXPECT_EQ(add.back(), kEtx);

    auto back = std::make_unique<GroupRecord>();
    std::string name;
    ASSERT_TRUE(DecodeAddGroup(add, name, *back));
    EXPECT_EQ(name, "Night shift");
    EXPECT_EQ(memcmp(back.get(), group.get(), sizeof *group), 0);
    int number = 0;
    ASSERT_TRUE(DecodeWriteGroup(write, number, *back));
    EXPECT_EQ(number, 5);
}

TEST(ProtocolRequests, ServerPageFieldsSitAtTheirOffsets) {
    std::string longMessage(1200, 'm');
    std::string frame = EncodeServerPage(1999, kPageEmail, std::string(150, 's'), longMessage);
    ASSERT_EQ(frame.size(), 1111u);
    EXPECT_EQ(frame.substr(0, 2), kSohS + "B");
    EXPECT_EQ(frame.substr(2, 4), std::string("\xCF\x07\x00\x00", 4));
    EXPECT_EQ(frame.substr(6, 4), std::string("\x02\x00\x00\x00", 4));
    EXPECT_EQ(frame.substr(10, 99), std::string(99, 's'));
    EXPECT_EQ(frame[109], '\0');
    EXPECT_EQ(frame.substr(110, 999), std::string(999, 'm'));
    EXPECT_EQ(frame[1109], '\0');
    EXPECT_EQ(frame[1110], kEtx);

    ServerPageRequest page;
    ASSERT_TRUE(DecodeServerPage(frame, page));
    EXPECT_EQ(page.slot, 1999);
    EXPECT_EQ(page.pageType, 2);
    EXPECT_EQ(page.subject.size(), 99u);
    EXPECT_EQ(page.message, std::string(999, 'm'));
    // A sender that fills the fields to their last byte, with no NUL, gets them cut as a page holds them.
    frame[109] = frame[1109] = 'x';
    ASSERT_TRUE(DecodeServerPage(frame, page));
    EXPECT_EQ(page.subject, std::string(99, 's'));
    EXPECT_EQ(page.message, std::string(999, 'm'));
}

TEST(ProtocolRequests, ClientPageFieldsSitAtTheirOffsets) {
    CompanyRecord company{};
    SetText(company.Name, "Acme Paging");
    company.Socket = 444;
    SubscriberRecord sub = test::MakeSubscriber("Ann", 6, "", 1);
    SetText(sub.PIN, "5551234");
    std::string frame = EncodeClientPage(kPageModem, "ann", "subj", "hello", company, sub);
    ASSERT_EQ(frame.size(), 2435u);
    EXPECT_EQ(frame.substr(0, 4), kSohS + "C" + std::string(2, '\0'));
    EXPECT_EQ(frame.substr(4, 4), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(frame.substr(8, 4), std::string("ann\0", 4));
    EXPECT_EQ(frame.substr(39, 5), std::string("subj\0", 5));
    EXPECT_EQ(frame.substr(139, 6), std::string("hello\0", 6));
    EXPECT_EQ(frame[1139], '\0');
    EXPECT_EQ(frame.substr(1140, 11), "Acme Paging");
    EXPECT_EQ(frame.substr(1898, 3), "Ann");
    EXPECT_EQ(frame[2434], kEtx);

    ClientPageRequest page;
    ASSERT_TRUE(DecodeClientPage(frame, page));
    EXPECT_EQ(page.pageType, 1);
    EXPECT_EQ(page.userName, "ann");
    EXPECT_EQ(page.subject, "subj");
    EXPECT_EQ(page.message, "hello");
    EXPECT_EQ(page.company.Socket, 444);
    EXPECT_EQ(GetText(page.subscriber.PIN), "5551234");
}

TEST(ProtocolRequests, FetchTicketNameStopsAtNulOrEtx) {
    std::string frame = EncodeFetchTicket("00001234-ann");
    EXPECT_EQ(frame, kSohS + "F00001234-ann" + kEtxS);
    EXPECT_EQ(DecodeFetchTicketName(frame), "00001234-ann");
    EXPECT_EQ(DecodeFetchTicketName(kSohS + "Fab" + std::string(1, '\0') + "cd" + kEtxS), "ab");
}

TEST(ProtocolReplies, ReadCustomerOfAnnIs046) {
    SubscriberRecord ann = test::MakeSubscriber("Ann", 2, "");
    std::string reply = EncodeReadCustomerReply(ann);
    EXPECT_EQ(reply, "046\"Ann\",\"\",\"2\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"");
    EXPECT_EQ(reply.size(), 3u + 46u);

    SubscriberRecord free{};
    std::string text = QuotedSubscriberText(free);
    EXPECT_EQ(text.substr(0, 9), "\"\",\"\",\"0\"");
    SubscriberRecord decoded = test::MakeSubscriber("x", 9, "", 9);
    DecodeQuotedSubscriberText(text, decoded);
    EXPECT_TRUE(IsEmptyText(decoded.Name));
}

TEST(ProtocolReplies, QuotedTextRoundTripsEveryField) {
    SubscriberRecord r = test::MakeSubscriber("Ann Lee", -4, "12345", 3);
    int k = 0;
    for (char* field : {r.CompanyName, r.Address, r.City, r.State, r.ZIP, r.WorkPhone, r.HomePhone, r.FAX, r.Cell})
        strcpy(field, ("field " + std::to_string(k++)).c_str());
    SetText(r.Email, "ann@example.com");
    SubscriberRecord back{};
    DecodeQuotedSubscriberText(QuotedSubscriberText(r), back);
    r.LockByte = 0;
    EXPECT_EQ(memcmp(&back, &r, sizeof r), 0);
}

TEST(ProtocolReplies, DecodingNormalisesSpacesAsTheImportDoes) {
    SubscriberRecord back{};
    DecodeQuotedSubscriberText("  \"Ann   Lee\", \"  12\",\"3\",\"0\",\"x \"", back);
    EXPECT_EQ(GetText(back.Name), "Ann Lee");
    EXPECT_EQ(GetText(back.PIN), "12");
    EXPECT_EQ(back.Company, 3);
    EXPECT_EQ(GetText(back.CompanyName), "x ");

    // A quote followed by a comma inside a value splits it: the format has no escape.
    SubscriberRecord odd = test::MakeSubscriber("a\",b", 1, "");
    DecodeQuotedSubscriberText(QuotedSubscriberText(odd), back);
    EXPECT_EQ(GetText(back.Name), "a");

    // More than 14 pieces: the rest is ignored.
    std::string text = QuotedSubscriberText(test::MakeSubscriber("Ann", 1, "")) + ",\"extra\"";
    DecodeQuotedSubscriberText(text, back);
    EXPECT_EQ(GetText(back.Email), "");
}

TEST(ProtocolReplies, ReadGroupCountsLeadingMembers) {
    auto group = std::make_unique<GroupRecord>();
    memset(group.get(), 0, sizeof *group);
    EXPECT_EQ(EncodeReadGroupReply(*group), "000");

    for (int i = 0; i < kGroupMembers; ++i)
        SetText(group->Members[i], "member" + std::to_string(i));
    group->Members[2][0] = '\0'; // counting stops here
    std::string two = EncodeReadGroupReply(*group);
    EXPECT_EQ(two.substr(0, 3), "002");
    EXPECT_EQ(two.size(), 3u + 162u);

    auto back = std::make_unique<GroupRecord>();
    DecodeReadGroupMembers(std::string_view(two).substr(3), ReplyValue(two.substr(0, 3)), *back);
    EXPECT_EQ(GetText(back->Members[1]), "member1");
    EXPECT_TRUE(IsEmptyText(back->Members[2]));
    DecodeReadGroupMembers(std::string_view(two).substr(3, 100), 250, *back); // count beyond the bytes
    EXPECT_EQ(GetText(back->Members[0]), "member0");
}

TEST(ProtocolReplies, BitmapsAreLeastSignificantBitFirst) {
    SubscriberBitmap subs{};
    SetBit(subs, 0);
    SetBit(subs, 9);
    SetBit(subs, 1999);
    SetBit(subs, 2000); // out of range: ignored
    SetBit(subs, -1);
    EXPECT_EQ(subs[0], 0x01);
    EXPECT_EQ(subs[1], 0x02);
    EXPECT_EQ(subs[249], 0x80);
    EXPECT_TRUE(TestBit(subs, 9));
    EXPECT_FALSE(TestBit(subs, 10));
    EXPECT_FALSE(TestBit(subs, 2000));

    GroupBitmap groups{};
    SetBit(groups, 199);
    EXPECT_EQ(groups.size(), 25u);
    EXPECT_EQ(groups[24], 0x80);
    std::string wire(reinterpret_cast<const char*>(groups.data()), groups.size());
    EXPECT_TRUE(TestBit(wire, 199));
    EXPECT_FALSE(TestBit(wire, 200));
}

TEST(ProtocolReplies, FileFindRecordIs280LittleEndianBytes) {
    FileFindRecord rec{};
    rec.attributes = kArchiveAttribute;
    rec.created = 0x01020304;
    rec.written = 1700000000;
    rec.size = 321;
    strcpy(rec.name, "00012345-ann");
    std::string bytes = EncodeFileFind(rec);
    ASSERT_EQ(bytes.size(), 280u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x20\0\0\0", 4));
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(bytes.substr(16, 4), std::string("\x41\x01\0\0", 4));
    EXPECT_EQ(bytes.substr(20, 13), std::string("00012345-ann\0", 13));

    FileFindRecord back;
    ASSERT_TRUE(DecodeFileFind(bytes, back));
    EXPECT_EQ(back.written, 1700000000u);
    EXPECT_STREQ(back.name, "00012345-ann");
    EXPECT_FALSE(DecodeFileFind(bytes.substr(0, 279), back));
    EXPECT_EQ(back.name[0], '\0');
}

TEST(ProtocolReplies, GreetingsAndTheLockOwnerNameTheirTexts) {
    const uint8_t loopback[4] = {127, 0, 0, 1}, lan[4] = {192, 168, 10, 254};
    EXPECT_EQ(SessionStartedGreeting(FormatIPv4(loopback)), "Network Session Started for 127.0.0.1\r\n");
    EXPECT_EQ(ConnectionRefusedGreeting(FormatIPv4(lan)), "Network Connection refused for 192.168.10.254\r\n");
    EXPECT_EQ(LockOwnerText("ann", "desk-3.example"), "ann / desk-3.example");
    // A 30-character user on a host with a 100-character name: the client takes one receive of at most 100
    // bytes, and anything beyond would be read as the next reply.
    EXPECT_EQ(LockOwnerText(std::string(30, 'u'), std::string(100, 'h')),
              std::string(30, 'u') + " / " + std::string(67, 'h'));
}

// ---- Framing ------------------------------------------------------------------------------------------------

std::vector<std::string> AllKindsOfFrames() {
    SubscriberRecord etxRecord = test::MakeSubscriber("Tab three", 1, "", 3);
    etxRecord.LockByte = 3;
    auto group = std::make_unique<GroupRecord>();
    memset(group.get(), 3, sizeof *group);
    CompanyRecord company{};
    memset(&company, 3, sizeof company);
    return {EncodeLogin("ann", "pw"),
            EncodeIndex(Request::ReadCustomer, 1234),
            EncodeEmpty(Request::CheckGroup),
            EncodeWriteCustomer(12, etxRecord),
            EncodeAddCustomer(etxRecord),
            EncodeWriteGroup(3, *group),
            EncodeAddGroup(3, "grp", *group),
            EncodeServerPage(3, 3, std::string(5, '\x03'), std::string(700, '\x03')),
            EncodeClientPage(0, "ann", "", "m", company, etxRecord),
            EncodeFetchTicket("0001-ann"),
            EncodeIndex(Request::LockOwner, 0)};
}

// Complete exactly at its last byte, wherever TCP cuts it, and taken alone when the next request follows.
TEST(ProtocolFraming, EveryFrameIsCompleteExactlyAtItsLastByte) {
    for (const std::string& frame : AllKindsOfFrames()) {
        for (size_t cut = 0; cut < frame.size(); ++cut) {
            FrameScan scan = ScanFrame(frame.data(), cut);
            ASSERT_FALSE(scan.complete || scan.skip) << "code " << frame[1] << " cut at " << cut;
        }
        std::string twice = frame + EncodeEmpty(Request::Ping);
        FrameScan scan = ScanFrame(twice.data(), twice.size());
        ASSERT_TRUE(scan.complete) << "code " << frame[1];
        EXPECT_EQ(scan.skip, 0u);
        EXPECT_EQ(scan.length, frame.size());
    }
}

// What the scan makes of bytes that are no frame, or not yet one.
TEST(ProtocolFraming, JunkIsSkippedAndAFrameThatCannotBeRightGivesUpItsSoh) {
    const std::string ping = EncodeEmpty(Request::Ping);
    struct Case {
        const char* what;
        std::string bytes;
        bool complete;
        size_t skip;
    };
    for (const Case& c : std::vector<Case>{
             {"junk before SOH", "garbage\x03\x03" + ping, true, 9},
             {"junk alone", std::string(20000, 'j'), false, 20000},
             {"a fixed-size frame whose last byte is no ETX", kSohS + "8X" + ping, true, 3},
             {"a variable frame without ETX within its limit", kSohS + "F" + std::string(400, 'n'), false, 402},
             {"a variable frame abandoned for a new request", kSohS + "212" + ping, true, 4},
             {"a variable frame still below its limit", kSohS + "212", false, 0}}) {
        SCOPED_TRACE(c.what);
        FrameScan scan = ScanFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(scan.complete, c.complete);
        EXPECT_EQ(scan.skip, c.skip);
        if (c.complete) {
            EXPECT_EQ(scan.length, 3u);
        }
    }
}

} // namespace
} // namespace brimlow::lan
