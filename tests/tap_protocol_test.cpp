// TAP blocks and checksums byte for byte, with no port behind them.
#include "transports/tap_protocol.h"

#include <gtest/gtest.h>

namespace brimlow {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

TEST(TapChecksumTest, TheShortestPageSumsToItsThreeDigits) {
    // STX "1" CR "A" CR ETX: 0x02+0x31+0x0D+0x41+0x0D+0x03 = 0x91.
    TapBlock block = BuildTapBlock("1", "A", 0);
    EXPECT_EQ(block.kind, TapBlockKind::Single);
    EXPECT_EQ(block.bytes, Bytes({0x02, '1', 0x0D, 'A', 0x0D, 0x03, '0', '9', '1', 0x0D}));
}

struct ChecksumCase {
    std::string block;
    std::string digits;
};

class TapChecksumTable : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(TapChecksumTable, DigitsAreZeroPlusEachNibble) { EXPECT_EQ(TapChecksum(GetParam().block), GetParam().digits); }

INSTANTIATE_TEST_SUITE_P(
    Values, TapChecksumTable,
    ::testing::Values(ChecksumCase{"", "000"}, ChecksumCase{Bytes({0x0F}), "00?"}, ChecksumCase{Bytes({0x7F, 0x7F}), "0?>"},
                      // 37 x 'z' = 37 * 0x7A = 0x11A2: only the low 12 bits count.
                      ChecksumCase{std::string(37, 'z'), "1:2"},
                      // A byte with its top bit set counts as its seven data bits, as a 7E1 line delivers it.
                      ChecksumCase{Bytes({0x02, 0xC1, 0x03}), Bytes({'0', '4', '6'})},
                      ChecksumCase{Bytes({0x02, 0x41, 0x03}), Bytes({'0', '4', '6'})}));

TEST(TapBlockTest, ExactlyTwoHundredThirtyCharactersGoAsOneBlock) {
    std::string text(230, 'x');
    TapBlock block = BuildTapBlock("55", text, 0);
    EXPECT_EQ(block.kind, TapBlockKind::Single);
    std::string body = std::string(1, kStx) + "55\r" + text + "\r" + kEtx;
    EXPECT_EQ(block.bytes, body + TapChecksum(body) + "\r");
}

TEST(TapBlockTest, TwoHundredThirtyOneCharactersGoAsAFirstAndALastBlock) {
    std::string text = std::string(230, 'a') + "b";
    TapBlock first = BuildTapBlock("55", text, 0);
    EXPECT_EQ(first.kind, TapBlockKind::First);
    std::string firstBody = std::string(1, kStx) + "55\r" + std::string(230, 'a') + kUs;
    EXPECT_EQ(first.bytes, firstBody + TapChecksum(firstBody) + "\r");

    TapBlock last = BuildTapBlock("55", text, 230);
    EXPECT_EQ(last.kind, TapBlockKind::Last);
    EXPECT_EQ(last.bytes, Bytes({0x02, 'b', 0x0D, 0x03}) + TapChecksum(Bytes({0x02, 'b', 0x0D, 0x03})) + "\r");
    EXPECT_EQ(TapChecksum(Bytes({0x02, 'b', 0x0D, 0x03})), "074"); // 0x02+0x62+0x0D+0x03 = 0x74
}

TEST(TapBlockTest, FourHundredSixtyCharactersEndInALastBlockOfTwoHundredThirty) {
    std::string text = std::string(230, 'a') + std::string(230, 'b');
    TapBlock first = BuildTapBlock("9", text, 0);
    EXPECT_EQ(first.kind, TapBlockKind::First);
    EXPECT_EQ(first.bytes[first.bytes.size() - 5], kUs);
    TapBlock last = BuildTapBlock("9", text, 230);
    EXPECT_EQ(last.kind, TapBlockKind::Last);
    std::string lastBody = std::string(1, kStx) + std::string(230, 'b') + "\r" + kEtx;
    EXPECT_EQ(last.bytes, lastBody + TapChecksum(lastBody) + "\r");
}

TEST(TapBlockTest, AMiddleBlockCarriesNoPinAndEndsInUnitSeparator) {
    std::string text = std::string(230, 'a') + std::string(230, 'b') + "c";
    TapBlock middle = BuildTapBlock("9", text, 230);
    EXPECT_EQ(middle.kind, TapBlockKind::Middle);
    std::string body = std::string(1, kStx) + std::string(230, 'b') + kUs;
    EXPECT_EQ(middle.bytes, body + TapChecksum(body) + "\r");
    EXPECT_EQ(BuildTapBlock("9", text, 460).kind, TapBlockKind::Last);
}

TEST(TapFieldTextTest, LineBreaksBecomeOneBlankAndNothingElseChanges) {
    EXPECT_EQ(TapFieldText("Call\r\nthe desk\nnow\rplease"), "Call the desk now please");
    EXPECT_EQ(TapFieldText("\r\n\r\n"), "  ");
    EXPECT_EQ(TapFieldText("tab\there \xE9t\xE9 ~^|"), "tab\there \xE9t\xE9 ~^|");
    EXPECT_EQ(TapFieldText(""), "");
}

} // namespace
} // namespace brimlow
