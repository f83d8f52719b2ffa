// Board type, identity EEPROM and FRU EEPROM over the simulated bus.
#include "board/board.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string decode(const Bytes &field, int size = 32)
{
    std::vector<char> out(static_cast<std::size_t>(size) + 8, '#');
    int rc = fru_decode_field(field.data(), out.data(), size);
    if (rc != 0)
        return "rc " + std::to_string(rc);
    EXPECT_EQ(std::strlen(out.data()) + 1 <= static_cast<std::size_t>(size), true);
    EXPECT_EQ(out[static_cast<std::size_t>(size)], '#');  // nothing written past `size`
    return out.data();
}

// Makes the bytes sum to 0 modulo 256 through the last one.
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
    const std::uint8_t id[6] = {0x00, 0x1B, 0x78, 0xAA, 0xBB, 0xCC};
    std::memcpy(r.data() + kIdentityUniqueId.offset, id, 6);
    std::memcpy(r.data() + kIdentityDefaultPassword.offset, password, std::min<std::size_t>(std::strlen(password), 8));
    checksum_last(r, BOARD_IDENTITY_SIZE);
    return r;
}

// A FRU EEPROM: common header pointing at a chassis area at 8 * `area_units`.
Bytes fru_eeprom(const Bytes &part, const Bytes &serial, std::uint8_t area_units = 1)
{
    Bytes rom(512, 0);
    rom[0] = 1;
    rom[2] = area_units;
    checksum_last(rom, 8);
    std::size_t a = area_units * 8u;
    Bytes area(256, 0);
    area.at(0) = 1;
    area.at(2) = 0x17;  // chassis type
    std::copy(part.begin(), part.end(), area.begin() + 3);
    std::size_t n = 3 + part.size();
    std::copy(serial.begin(), serial.end(), area.begin() + static_cast<long>(n));
    n += serial.size();
    area.at(n++) = 0xC1;  // end of fields
    std::size_t len = (n + 1 + 7) / 8;
    area.at(1) = static_cast<std::uint8_t>(len);
    checksum_last(area, len * 8);
    std::copy(area.begin(), area.begin() + static_cast<long>(len * 8), rom.begin() + static_cast<long>(a));
    return rom;
}

Bytes ascii(const std::string &s)
{
    Bytes f(1 + s.size(), static_cast<std::uint8_t>(0xC0 | s.size()));
    std::copy(s.begin(), s.end(), f.begin() + 1);
    return f;
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
    EXPECT_EQ(decode({0xC0}), "");                      // type 3, length 0
    EXPECT_EQ(decode({0x00}), "");                      // any type with length 0
    EXPECT_EQ(decode({0x02, 1, 2}), "rc -6");           // raw bytes
    EXPECT_EQ(decode({0x42, 0x12, 0xAB}), "12 -");      // BCD plus
    EXPECT_EQ(decode({0x42, 0xCD, 0xEF}), ".  B");
    EXPECT_EQ(decode(ascii("SN123"), 21), "SN123");
    EXPECT_EQ(decode(ascii(std::string(30, 'Q')), 21), std::string(20, 'Q'));
    EXPECT_EQ(decode({0x42, 0x12, 0x34}, 4), "123");    // cut to size - 1
}

TEST(FruField, SixBitAsciiPacksFourCharactersInThreeBytesLowBitsFirst)
{
    // "IPMI": codes 0x29 0x30 0x2D 0x29.
    EXPECT_EQ(decode({0x83, 0x29, 0xDC, 0xA6}), "IPMI");
    // Two bytes give two characters (16 / 6), the rest of the bits unused.
    EXPECT_EQ(decode({0x82, 0x29, 0xDC}), "IP");
    EXPECT_EQ(decode({0x86, 0x29, 0xDC, 0xA6, 0x00, 0x00, 0x00}, 5), "IPMI");
}

TEST(FruField, UnusableOutputIsRefused)
{
    const std::uint8_t field[] = {0xC1, 'A'};
    char out[4];
    EXPECT_EQ(fru_decode_field(field, out, 0), -6);
    EXPECT_EQ(fru_decode_field(field, nullptr, 4), -6);
    EXPECT_EQ(fru_decode_field(field, out, 1), 0);
    EXPECT_STREQ(out, "");
}

TEST(BoardType, ParsedFromTheFirst255Bytes)
{
    int t = -1;
    EXPECT_TRUE(parse_board_type("A=1\nZELMARBOARDTYPE=3\n", &t));
    EXPECT_EQ(t, 3);
    EXPECT_FALSE(parse_board_type("ZELMARBOARDTYPE=\n", &t));
    EXPECT_FALSE(parse_board_type("ZELMARBOARDTYPE 3\n", &t));
    EXPECT_FALSE(parse_board_type("ZELMARBOARDTYPE=99999999999\n", &t));
    EXPECT_FALSE(parse_board_type("", &t));
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
              "Error:  Could not open /etc/gpio_states: No such file or directory\n");
    EXPECT_EQ(calls(), "");
}

TEST_F(Board, IdentityAddressAndOffsetFollowTheBoardType)
{
    Bytes rec = identity_record("Adm1n");
    Bytes low = rec;
    sim_root().write_bytes("/sim/i2c/50", low);
    type(1);
    ASSERT_EQ(read_board_identity(), 0);
    EXPECT_EQ(calls(), "i2c write 50 00\ni2c read 50 22\n");
    EXPECT_EQ(board_default_password(), "Adm1n");
    EXPECT_EQ(board_unique_id()[1], 0x1B);

    Bytes high(16, 0xEE);
    Bytes rec8 = identity_record("12345678");
    high.resize(16 + rec8.size());
    std::copy(rec8.begin(), rec8.end(), high.begin() + 16);
    sim_root().write_bytes("/sim/i2c/52", high);
    clear_sim_logs();
    type(3);
    ASSERT_EQ(read_board_identity(), 0);
    EXPECT_EQ(calls(), "i2c write 52 10\ni2c read 52 22\n");
    EXPECT_EQ(board_default_password(), "12345678");
    EXPECT_EQ(i2c_fd, -1);
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

    Bytes bad_header = fru_eeprom(ascii("P"), ascii("S"));
    bad_header[7] ^= 1;
    sim_root().write_bytes("/sim/i2c/56", bad_header);
    EXPECT_EQ(read_fru_strings(out), -7);

    Bytes no_area = fru_eeprom(ascii("P"), ascii("S"));
    no_area[2] = 0;
    checksum_last(no_area, 8);
    sim_root().write_bytes("/sim/i2c/56", no_area);
    EXPECT_EQ(read_fru_strings(out), -7);

    Bytes bad_area = fru_eeprom(ascii("P"), ascii("S"));
    bad_area[8 + 4] ^= 1;
    sim_root().write_bytes("/sim/i2c/56", bad_area);
    EXPECT_EQ(read_fru_strings(out), -7);

    sim_root().write_bytes("/sim/i2c/56", fru_eeprom(ascii("P"), {0x02, 1, 2}));
    EXPECT_EQ(read_fru_strings(out), -3);  // raw serial number

    Bytes short_rom = fru_eeprom(ascii("P"), ascii("S"), 40);
    short_rom.resize(300);  // the chassis area read runs past the end
    sim_root().write_bytes("/sim/i2c/56", short_rom);
    clear_sim_logs();
    EXPECT_EQ(read_fru_strings(out), -3);
    EXPECT_NE(calls().find("i2c read 56 256\ni2c write 76 80\n"), std::string::npos);

    std::filesystem::remove(sim_root().at("/dev/i2c0"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_fru_strings(out), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error:  Could not open /dev/i2c0\n");
    EXPECT_EQ(i2c_fd, -1);
}

TEST(ChassisArea, VersionLengthAndChecksumAreChecked)
{
    Bytes rom = fru_eeprom(ascii("P"), ascii("S"));
    Bytes area(rom.begin() + 8, rom.begin() + 8 + 256);
    char out[FRU_STRINGS_SIZE];
    EXPECT_EQ(fru_decode_chassis_area(area.data(), out), 0);
    Bytes v2 = area;
    v2[0] = 2;
    EXPECT_EQ(fru_decode_chassis_area(v2.data(), out), -7);
    Bytes zero = area;
    zero[1] = 0;
    EXPECT_EQ(fru_decode_chassis_area(zero.data(), out), -7);
    Bytes big(256, 0);
    big[0] = 1;
    big[1] = 33;
    EXPECT_EQ(fru_decode_chassis_area(big.data(), out), -7);
    Bytes whole(256, 0);  // a 32-unit area of zero fields fills the buffer exactly
    whole[0] = 1, whole[1] = 32, whole[3] = 0xC0, whole[4] = 0xC0;
    checksum_last(whole, 256);
    EXPECT_EQ(fru_decode_chassis_area(whole.data(), out), 0);
}

TEST(IdentityChecksum, AllBytesSumToZero)
{
    Bytes r = identity_record("x");
    EXPECT_TRUE(identity_checksum_ok(r.data()));
    r[0] += 1;
    EXPECT_FALSE(identity_checksum_ok(r.data()));
}
