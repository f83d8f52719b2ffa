// FRU type/length fields, decoded into buffers of every size. Reading the
// board type and the EEPROMs is covered by the golden factory cases.
#include "board/board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

TEST(FruField, EveryTypeAndLength)
{
    struct Case {
        Bytes field;
        int size;
        std::string decoded;  // or "rc N"
    };
    const Case cases[] = {
        {{0xC0}, 32, ""},                                   // type 3, length 0
        {{0x00}, 32, ""},                                   // any type with length 0
        {{0x02, 1, 2}, 32, "rc -6"},                        // raw bytes
        {{0x42, 0x12, 0xAB}, 32, "12 -"},                   // BCD plus
        {{0x42, 0xCD, 0xEF}, 32, ".  B"},
        {{0x42, 0x12, 0x34}, 4, "123"},                     // cut to size - 1
        {{0xC5, 'S', 'N', '1', '2', '3'}, 4, "SN1"},       // 8-bit ASCII, cut too
        {{0x83, 0x29, 0xDC, 0xA6}, 32, "IPMI"},             // six-bit: 0x29 0x30 0x2D 0x29, low bits first
        {{0x82, 0x29, 0xDC}, 32, "IP"},                     // 16 bits give two characters
        {{0x86, 0x29, 0xDC, 0xA6, 0, 0, 0}, 5, "IPMI"},
        {{0xC1, 'A'}, 1, ""},
        {{0xC1, 'A'}, 0, "rc -6"},
    };
    for (const Case &c : cases) {
        std::vector<char> out(static_cast<std::size_t>(c.size) + 8, '#');
        int rc = fru_decode_field(c.field.data(), out.data(), c.size);
        EXPECT_EQ(rc != 0 ? "rc " + std::to_string(rc) : std::string(out.data()), c.decoded);
        EXPECT_EQ(out[static_cast<std::size_t>(c.size)], '#') << c.decoded;  // nothing written past `size`
    }
    EXPECT_EQ(fru_decode_field(cases[0].field.data(), nullptr, 4), -6);
}
