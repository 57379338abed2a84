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

TEST(TapChecksumTest, DigitsAreZeroPlusEachNibbleOfTheLowTwelveBits) {
    // STX "1" CR "A" CR ETX: 0x02+0x31+0x0D+0x41+0x0D+0x03 = 0x91.
    TapBlock block = BuildTapBlock("1", "A", 0);
    EXPECT_EQ(block.kind, TapBlockKind::Single);
    EXPECT_EQ(block.bytes, Bytes({0x02, '1', 0x0D, 'A', 0x0D, 0x03, '0', '9', '1', 0x0D}));
    const std::pair<std::string, std::string> cases[] = {
        {"", "000"},
        {Bytes({0x0F}), "00?"},
        {Bytes({0x7F, 0x7F}), "0?>"},
        // 37 x 'z' = 37 * 0x7A = 0x11A2: only the low 12 bits count.
        {std::string(37, 'z'), "1:2"},
        // A byte with its top bit set counts as its seven data bits, as a 7E1 line delivers it.
        {Bytes({0x02, 0xC1, 0x03}), "046"},
        {Bytes({0x02, 0x41, 0x03}), "046"}};
    for (const auto& [bytes, digits] : cases)
        EXPECT_EQ(TapChecksum(bytes), digits) << ::testing::PrintToString(bytes);
}

// Each block is STX, the PIN and CR in the first block only, up to 230 characters of text, then CR ETX in the last
// block or US in the others, the checksum and CR.
TEST(TapBlockTest, LongTextsSplitIntoFirstMiddleAndLastBlocks) {
    auto framed = [](const std::string& body) { return body + TapChecksum(body) + "\r"; };
    const std::string a(230, 'a'), b(230, 'b'), stx(1, kStx);
    struct Case {
        std::string text;
        size_t offset;
        TapBlockKind kind;
        std::string bytes;
    } const cases[] = {
        {a, 0, TapBlockKind::Single, framed(stx + "55\r" + a + "\r" + kEtx)},
        {a + "b", 0, TapBlockKind::First, framed(stx + "55\r" + a + kUs)},
        // 0x02+0x62+0x0D+0x03 = 0x74
        {a + "b", 230, TapBlockKind::Last, Bytes({0x02, 'b', 0x0D, 0x03, '0', '7', '4', 0x0D})},
        {a + b, 0, TapBlockKind::First, framed(stx + "55\r" + a + kUs)},
        {a + b, 230, TapBlockKind::Last, framed(stx + b + "\r" + kEtx)},
        {a + b + "c", 230, TapBlockKind::Middle, framed(stx + b + kUs)},
        {a + b + "c", 460, TapBlockKind::Last, framed(stx + "c\r" + kEtx)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.text.size()) + " characters from " + std::to_string(c.offset));
        TapBlock block = BuildTapBlock("55", c.text, c.offset);
        EXPECT_EQ(block.kind, c.kind);
        EXPECT_EQ(block.bytes, c.bytes);
    }
}

TEST(TapFieldTextTest, LineBreaksAndControlCharactersBecomeOneBlankAndNothingElseChanges) {
    const std::pair<std::string, std::string> cases[] = {
        {"Call\r\nthe desk\nnow\rplease", "Call the desk now please"},
        {"\r\n\r\n", "  "},
        {"tab\there \xE9t\xE9 ~^|", "tab here \xE9t\xE9 ~^|"},
        {Bytes({'a', kStx, kEtx, kEot, kEsc, kUs, 0x7F, 0x83, 0x9B, 0xFF, 'z'}), "a         z"},
        {"", ""}};
    for (const auto& [text, field] : cases)
        EXPECT_EQ(TapFieldText(text), field) << ::testing::PrintToString(text);
}

} // namespace
} // namespace brimlow
