// Boot loader environment blocks: the CRC, the default environment and the
// baud-rate and USB edits.
#include "bootenv/uboot_env.h"
#include "sim_root.h"
#include "store/exit.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

namespace {

using Block = std::vector<unsigned char>;

const std::vector<std::string> &kDefault = default_uboot_entries();

// A block as the boot loader's image tool lays it out.
Block make_block(const std::vector<std::string> &entries, unsigned char pad = 0xFF)
{
    return uboot_block(entries, pad);
}

// The default environment ends with one more NUL after its end mark.
Block default_block(unsigned char pad)
{
    Block b = make_block(kDefault, pad);
    b[4 + 202] = 0;
    uboot_env_store_crc(b.data());
    return b;
}

std::string debug_log()
{
    return sim_root().read("/ramdisk/ubootmsg.log");
}

void board_type(int type)
{
    sim_root().write("/etc/gpio_states", "GPIO_A=1\nZELMARBOARDTYPE=" + std::to_string(type) + "\n");
}

class BootEnv : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_root();
        clear_sim_logs();
        board_type(0);
    }
};

} // namespace

TEST_F(BootEnv, DefaultEnvironmentIsTheElevenEntriesAndEndMark)
{
    Block expected = default_block(0xFF);
    EXPECT_TRUE(std::equal(uboot_default_env, uboot_default_env + 203, expected.begin() + 4));
    EXPECT_EQ(expected[4 + 203], 0xFF);
}

TEST_F(BootEnv, CrcIsBigEndianOverTheWholeDataArea)
{
    Block b = make_block(kDefault);
    EXPECT_TRUE(uboot_env_crc_ok(b.data()));
    std::swap(b[0], b[3]);
    std::swap(b[1], b[2]);
    EXPECT_FALSE(uboot_env_crc_ok(b.data()));
    Block c = make_block(kDefault);
    c[1023] ^= 1;  // past the end mark still counts
    EXPECT_FALSE(uboot_env_crc_ok(c.data()));
}

TEST_F(BootEnv, ErasedBlockTakesTheDefaultAndKeepsItsTail)
{
    Block b(UBOOT_ENV_SIZE, 0xFF);
    uboot_env_use_default(b.data());
    EXPECT_EQ(b, default_block(0xFF));
}

TEST_F(BootEnv, BaudRateOnTheDefaultEnvironment)
{
    Block b = make_block(kDefault);
    ASSERT_EQ(update_uboot_baudrate_setting(115200, b.data(), UBOOT_ENV_SIZE), 0);
    std::vector<std::string> want = kDefault;
    want[2] = "baudrate=115200";
    want[10] = "bootargs=root=/dev/ram0 console=ttyS0,115200";
    EXPECT_EQ(b, make_block(want));
    // And back: the freed bytes take the padding again.
    ASSERT_EQ(update_uboot_baudrate_setting(9600, b.data(), UBOOT_ENV_SIZE), 0);
    EXPECT_EQ(b, make_block(kDefault));
}

TEST_F(BootEnv, BaudRateKeepsEveryOtherParameterInAnyOrder)
{
    std::string many = "bootargs=root=/dev/ram0 console=ttyS0,9600 usbd=1";
    for (int k = 0; k < 12; ++k)
        many += " param" + std::to_string(k) + "=value";
    ASSERT_GT(many.size(), 63u);
    Block b = make_block({many, "silent=1", "baudrate=9600"}, 0x00);
    ASSERT_EQ(update_uboot_baudrate_setting(38400, b.data(), UBOOT_ENV_SIZE), 0);
    std::string want = many;
    want.replace(want.find("9600"), 4, "38400");
    EXPECT_EQ(b, make_block({want, "silent=1", "baudrate=38400"}, 0x00));

    Block plain = make_block({"bootargs=root=/dev/ram0", "baudrate=9600"});
    ASSERT_EQ(update_uboot_baudrate_setting(57600, plain.data(), UBOOT_ENV_SIZE), 0);
    EXPECT_EQ(plain, make_block({"bootargs=root=/dev/ram0", "baudrate=57600"}));
}

TEST_F(BootEnv, BaudRateRefusesBadArgumentsAndAFullBlock)
{
    Block b = make_block(kDefault), before = b;
    EXPECT_EQ(update_uboot_baudrate_setting(115200, b.data(), 1023), -1);
    EXPECT_EQ(update_uboot_baudrate_setting(115200, nullptr, UBOOT_ENV_SIZE), -1);
    EXPECT_EQ(update_uboot_baudrate_setting(12345, b.data(), UBOOT_ENV_SIZE), -1);
    EXPECT_EQ(b, before);
    EXPECT_NE(debug_log().find("update_uboot_baudrate_setting: Invalid buffer size and/or address parameters found."),
              std::string::npos);
    EXPECT_NE(debug_log().find("update_uboot_baudrate_setting: Invalid baudrate value found."), std::string::npos);

    // Entries filling the area up to one byte: a growth of two cannot fit,
    // and nothing at the end is cut off instead.
    std::string filler(1020 - 1 - 14 - 1 - 1, 'x');  // free, baudrate entry, NUL, end mark
    Block full = make_block({"baudrate=9600", "z=" + filler.substr(2)});
    Block kept = full;
    EXPECT_EQ(update_uboot_baudrate_setting(115200, full.data(), UBOOT_ENV_SIZE), -1);
    EXPECT_EQ(full, kept);
    // A growth of one still fits exactly.
    EXPECT_EQ(update_uboot_baudrate_setting(19200, full.data(), UBOOT_ENV_SIZE), 0);
    EXPECT_EQ(full, make_block({"baudrate=19200", "z=" + filler.substr(2)}));
}

TEST_F(BootEnv, UsbAppendsTheParameterByMovingBootargsLast)
{
    Block b = make_block(kDefault);
    ASSERT_EQ(update_usb_setting(3, b.data()), 0);
    std::vector<std::string> want = kDefault;
    want[10] += " usbd=3";
    EXPECT_EQ(b, make_block(want));

    Block first = make_block({"bootargs=root=/dev/ram0", "baudrate=9600", "silent=1"});
    ASSERT_EQ(update_usb_setting(0, first.data()), 0);
    EXPECT_EQ(first, make_block({"baudrate=9600", "silent=1", "bootargs=root=/dev/ram0 usbd=0"}));
}

TEST_F(BootEnv, UsbReplacesOnlyTheDigitOfAnExistingParameter)
{
    Block b = make_block({"bootargs=root=/dev/ram0 usbd=1 quiet", "baudrate=9600"});
    ASSERT_EQ(update_usb_setting(5, b.data()), 0);
    EXPECT_EQ(b, make_block({"bootargs=root=/dev/ram0 usbd=5 quiet", "baudrate=9600"}));
    Block bare = make_block({"bootargs=a usbd=", "x=1"});
    ASSERT_EQ(update_usb_setting(2, bare.data()), 0);
    EXPECT_EQ(bare, make_block({"bootargs=a usbd=2", "x=1"}));
}

TEST_F(BootEnv, UsbFailuresLeaveTheBlockAlone)
{
    Block b = make_block(kDefault), before = b;
    EXPECT_EQ(update_usb_setting(10, b.data()), -1);
    EXPECT_NE(debug_log().find("update_usb_setting: USB value of 10 is out of range."), std::string::npos);

    Block none = make_block({"baudrate=9600"}), none_before = none;
    EXPECT_EQ(update_usb_setting(1, none.data()), -1);
    EXPECT_NE(debug_log().find("Unable to locate bootargs entry in UBOOT environment."), std::string::npos);
    EXPECT_EQ(none, none_before);

    // A stale bootargs past the end mark is not part of the environment.
    Block stale = make_block({"baudrate=9600"}, 0x00);
    std::string old = "bootargs=old";
    std::copy(old.begin(), old.end(), stale.begin() + 600);
    uboot_env_store_crc(stale.data());
    Block stale_before = stale;
    EXPECT_EQ(update_usb_setting(1, stale.data()), -1);
    EXPECT_EQ(stale, stale_before);

    std::string filler(1020 - 2 - 2 - 1 - 1 - 10, 'x');
    Block full = make_block({"a=" + filler, "bootargs="}), full_before = full;
    EXPECT_EQ(update_usb_setting(1, full.data()), -1);
    EXPECT_EQ(full, full_before);
    EXPECT_EQ(b, before);
}

TEST_F(BootEnv, UsbDependsOnTheBoardType)
{
    Block b = make_block(kDefault), before = b;
    board_type(2);
    EXPECT_EQ(update_usb_setting(10, b.data()), 0);
    EXPECT_EQ(b, before);
    sim_root().write("/etc/gpio_states", "nothing here\n");
    EXPECT_EQ(update_usb_setting(1, b.data()), -1);
    EXPECT_NE(debug_log().find("Failed to read the ZELMAR board type."), std::string::npos);
    EXPECT_EQ(b, before);
}

TEST_F(BootEnv, DeviceReadFallsBackAndWriteStoresTheBlockAsItIs)
{
    Block erased(UBOOT_ENV_SIZE, 0xFF);
    sim_root().write_bytes("/dev/uboot", erased);
    Block b(UBOOT_ENV_SIZE, 0);
    ASSERT_EQ(read_uboot_env(b.data()), 0);
    EXPECT_EQ(b, default_block(0xFF));
    char crc[16];
    std::snprintf(crc, sizeof crc, "[%X]", static_cast<unsigned>(crc32(0, erased.data() + 4, 1020)));
    EXPECT_NE(debug_log().find(std::string("Bad UBOOT environment CRC value found ") + crc +
                               ", using default environment"),
              std::string::npos);

    Block stale = make_block({"a=1"});
    stale[10] = 'b';  // edited without a new CRC: written as it is
    EXPECT_EQ(write_uboot_env(stale.data()), 0);
    EXPECT_EQ(sim_root().read_bytes("/dev/uboot"), stale);
    EXPECT_EQ(read_uboot_env(nullptr), -1);
}

TEST_F(BootEnv, DeviceFailuresEndTheRunWith255)
{
    auto status_of = [](auto call) {
        try {
            call();
        } catch (const ExitRequest &e) {
            return e.status & 0xFF;
        }
        return 0;
    };
    Block b(UBOOT_ENV_SIZE, 0);
    sim_root().write_bytes("/dev/uboot", Block(1000, 0xFF));
    EXPECT_EQ(status_of([&] { read_uboot_env(b.data()); }), 255);
    EXPECT_NE(debug_log().find("read_uboot_env: Error reading from NVRAM."), std::string::npos);
    std::filesystem::remove(sim_root().at("/dev/uboot"));
    EXPECT_EQ(status_of([&] { read_uboot_env(b.data()); }), 255);
    EXPECT_EQ(status_of([&] { write_uboot_env(b.data()); }), 255);
    EXPECT_NE(debug_log().find("write_uboot_env: Can't open /dev/uboot. No such file or directory"),
              std::string::npos);
    EXPECT_EQ(status_of([&] { write_uboot_env(nullptr); }), 255);
}
