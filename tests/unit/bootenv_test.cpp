// Boot loader environment calls that no run of the tool makes: USB values
// the factory defaults never use, a block of the wrong size, null blocks, and
// a write of a block whose CRC is stale. The tool's own edits are golden cases.
#include "bootenv/uboot_env.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(BootEnv, CallsOutsideWhatTheToolAsksFor)
{
    using Block = std::vector<unsigned char>;
    auto logged = [](const std::string &text) {
        return sim_root().read("/ramdisk/ubootmsg.log").find(text) != std::string::npos;
    };
    Block block = uboot_block(default_uboot_entries());
    const Block before = block;
    const std::pair<const char *, int> boards[] = {{"ZELMARBOARDTYPE=0\n", -1}, {"ZELMARBOARDTYPE=2\n", 0}};
    for (auto [board, rc] : boards) {  // a board type without USB has nothing to check
        clear_sim_logs();
        sim_root().write("/etc/gpio_states", board);
        EXPECT_EQ(update_usb_setting(10, block.data()), rc) << board;
        EXPECT_EQ(logged("update_usb_setting: USB value of 10 is out of range."), rc != 0);
    }
    EXPECT_EQ(update_uboot_baudrate_setting(115200, block.data(), kUbootEnvSize - 1), -1);
    EXPECT_TRUE(logged("update_uboot_baudrate_setting: Invalid buffer size and/or address parameters found."));
    EXPECT_EQ(block, before);
    EXPECT_EQ(read_uboot_env(nullptr), -1);
    EXPECT_EQ(update_usb_setting(1, nullptr), -1);
    EXPECT_EQ(update_uboot_baudrate_setting(115200, nullptr, kUbootEnvSize), -1);
    sim_root().write_bytes("/dev/uboot", block);
    block[10] = 'b';  // edited without a new CRC: written as it is
    EXPECT_EQ(write_uboot_env(block.data()), 0);
    EXPECT_EQ(sim_root().read_bytes("/dev/uboot"), block);
}
