// Board type, identity EEPROM and FRU EEPROM over the simulated bus.
#include "board/board.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Makes the first n bytes sum to 0 modulo 256 through the last of them.
void checksum_last(Bytes &b, std::size_t n)
{
    unsigned s = 0;
    for (std::size_t k = 0; k + 1 < n; ++k)
        s += b[k];
    b[n - 1] = static_cast<std::uint8_t>(0x100 - (s & 0xFF));
}

Bytes identity_record(const char *password)
{
    Bytes r(BOARD_IDENTITY_SIZE, 0);
    r[kIdentityUniqueId.offset + 1] = 0x1B;
    std::memcpy(r.data() + kIdentityDefaultPassword.offset, password, std::min<std::size_t>(std::strlen(password), 8));
    checksum_last(r, BOARD_IDENTITY_SIZE);
    return r;
}

Bytes ascii(const std::string &s)
{
    Bytes f(1 + s.size(), static_cast<std::uint8_t>(0xC0 | s.size()));
    std::copy(s.begin(), s.end(), f.begin() + 1);
    return f;
}

// A FRU EEPROM: common header pointing at a chassis area at 8 * `area_units`.
Bytes fru_eeprom(const Bytes &part, const Bytes &serial, std::uint8_t area_units = 1)
{
    Bytes rom(512, 0);
    rom[0] = 1;
    rom[2] = area_units;
    checksum_last(rom, 8);
    Bytes area = {1, 0, 0x17};  // version, length, chassis type
    area.insert(area.end(), part.begin(), part.end());
    area.insert(area.end(), serial.begin(), serial.end());
    area.push_back(0xC1);  // end of fields
    std::size_t len = (area.size() + 1 + 7) / 8;
    area.resize(len * 8);
    area[1] = static_cast<std::uint8_t>(len);
    checksum_last(area, len * 8);
    std::copy(area.begin(), area.end(), rom.begin() + area_units * 8);
    return rom;
}

class Board : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_root().write("/dev/i2c0", "");
        for (const char *d : {"/sim/i2c/50", "/sim/i2c/52", "/sim/i2c/56", "/sim/i2c/75", "/sim/i2c/76"})
            std::filesystem::remove(sim_root().at(d));
        clear_sim_logs();
    }
    void type(int t) { sim_root().write("/etc/gpio_states", "X=1\nZELMARBOARDTYPE=" + std::to_string(t) + "\n"); }
    std::string calls() { return sim_root().calls(); }
};

} // namespace

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
        {ascii("SN123"), 21, "SN123"},
        {ascii(std::string(30, 'Q')), 21, std::string(20, 'Q')},
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

TEST(BoardType, ParsedFromTheFirst255Bytes)
{
    int t = -1;
    EXPECT_TRUE(parse_board_type("A=1\nZELMARBOARDTYPE=3\n", &t));
    EXPECT_EQ(t, 3);
    for (const char *bad : {"ZELMARBOARDTYPE=\n", "ZELMARBOARDTYPE 3\n", "ZELMARBOARDTYPE=99999999999\n", ""})
        EXPECT_FALSE(parse_board_type(bad, &t)) << bad;
}

TEST_F(Board, MissingKeyOrFileMeansNoType)
{
    sim_root().write("/etc/gpio_states", std::string(300, 'x') + "ZELMARBOARDTYPE=1\n");
    int t = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_board_type(&t), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ZELMARBOARDTYPE not found (255)");
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_board_identity(), 1);
    char out[FRU_STRINGS_SIZE];
    EXPECT_EQ(read_fru_strings(out), 1);
    testing::internal::GetCapturedStderr();
    std::filesystem::remove(sim_root().at("/etc/gpio_states"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_board_type(&t), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error:  Could not open " + sim_root().at("/etc/gpio_states").string() + ": No such file or directory\n");
    EXPECT_EQ(calls(), "");
}

TEST_F(Board, IdentityAddressAndOffsetFollowTheBoardType)
{
    sim_root().write_bytes("/sim/i2c/50", identity_record("Adm1n"));
    Bytes high(16, 0xEE), rec8 = identity_record("12345678");
    high.insert(high.end(), rec8.begin(), rec8.end());
    sim_root().write_bytes("/sim/i2c/52", high);
    for (auto [t, transfers, password] : {std::tuple{1, "i2c write 50 00\ni2c read 50 22\n", "Adm1n"},
                                          {3, "i2c write 52 10\ni2c read 52 22\n", "12345678"}}) {
        clear_sim_logs();
        type(t);
        ASSERT_EQ(read_board_identity(), 0);
        EXPECT_EQ(calls(), transfers);
        EXPECT_EQ(board_default_password(), password);
        EXPECT_EQ(board_unique_id()[1], 0x1B);
        EXPECT_EQ(i2c_fd, -1);
    }
}

TEST_F(Board, IdentityFailures)
{
    type(0);
    EXPECT_EQ(read_board_identity(), -4);  // no device answers
    Bytes rec = identity_record("pw");
    rec[20] ^= 0x01;
    sim_root().write_bytes("/sim/i2c/50", rec);
    EXPECT_EQ(read_board_identity(), -7);
    EXPECT_EQ(board_identity[20], rec[20]);  // the record read stays
    sim_root().write_bytes("/sim/i2c/50", Bytes(10, 0));
    EXPECT_EQ(read_board_identity(), -3);
    std::filesystem::remove(sim_root().at("/dev/i2c0"));
    EXPECT_EQ(read_board_identity(), 1);
    EXPECT_EQ(i2c_fd, -1);
}

TEST_F(Board, FruStringsThroughTheMultiplexer)
{
    sim_root().write_bytes("/sim/i2c/56", fru_eeprom(ascii("PN-0042"), ascii("SN123X"), 2));
    sim_root().write("/sim/i2c/75", "");
    sim_root().write("/sim/i2c/76", "");
    for (auto [t, mux] : {std::pair{3, "75"}, {5, "75"}, {1, "75"}, {2, "76"}, {0, "76"}}) {
        clear_sim_logs();
        type(t);
        char out[FRU_STRINGS_SIZE];
        std::memset(out, '#', sizeof out);
        ASSERT_EQ(read_fru_strings(out), 0) << t;
        EXPECT_STREQ(out + FRU_SERIAL_OFFSET, "SN123X");
        EXPECT_STREQ(out + FRU_PART_OFFSET, "PN-0042");
        EXPECT_EQ(calls(), std::string("i2c write ") + mux + " 80\ni2c write 56 00 00\ni2c read 56 256\n" +
                               "i2c write 56 00 10\ni2c read 56 256\ni2c write " + mux + " 80\n")
            << t;
    }
}

TEST_F(Board, FruFailures)
{
    type(2);
    char out[FRU_STRINGS_SIZE];
    EXPECT_EQ(read_fru_strings(out), -4);  // no multiplexer
    sim_root().write("/sim/i2c/76", "");
    EXPECT_EQ(read_fru_strings(out), -4);  // no EEPROM behind it

    auto good = [] { return fru_eeprom(ascii("P"), ascii("S")); };
    Bytes bad_header = good(), no_area = good(), bad_area = good();
    bad_header[7] ^= 1;
    no_area[2] = 0;
    checksum_last(no_area, 8);
    bad_area[8 + 4] ^= 1;
    Bytes short_rom = fru_eeprom(ascii("P"), ascii("S"), 40);
    short_rom.resize(300);  // the chassis area read runs past the end
    const std::pair<Bytes, int> roms[] = {
        {bad_header, -7}, {no_area, -7}, {bad_area, -7}, {fru_eeprom(ascii("P"), {0x02, 1, 2}), -3}, {short_rom, -3}};
    for (const auto &[rom, rc] : roms) {
        sim_root().write_bytes("/sim/i2c/56", rom);
        clear_sim_logs();
        EXPECT_EQ(read_fru_strings(out), rc);
    }
    EXPECT_NE(calls().find("i2c read 56 256\ni2c write 76 80\n"), std::string::npos);  // short_rom's failed read

    std::filesystem::remove(sim_root().at("/dev/i2c0"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_fru_strings(out), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error:  Could not open " + sim_root().at("/dev/i2c0").string() + "\n");
    EXPECT_EQ(i2c_fd, -1);
}

TEST(ChassisArea, VersionLengthAndChecksumAreChecked)
{
    Bytes rom = fru_eeprom(ascii("P"), ascii("S"));
    Bytes area(rom.begin() + 8, rom.begin() + 8 + 256), v2 = area, zero = area, big(256, 0), whole(256, 0);
    v2[0] = 2;
    zero[1] = 0;
    big[0] = 1, big[1] = 33;
    whole[0] = 1, whole[1] = 32, whole[3] = 0xC0, whole[4] = 0xC0;  // 32 units of zero fields fill the buffer
    checksum_last(whole, 256);
    char out[FRU_STRINGS_SIZE];
    const std::pair<Bytes, int> cases[] = {{area, 0}, {v2, -7}, {zero, -7}, {big, -7}, {whole, 0}};
    for (const auto &[a, rc] : cases)
        EXPECT_EQ(fru_decode_chassis_area(a.data(), out), rc);
}
