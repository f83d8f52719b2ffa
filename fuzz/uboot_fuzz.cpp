// A boot loader environment block of any content through the CRC check and
// every edit: an edit either succeeds, leaving a correct CRC and an end mark
// inside the block, or fails and leaves the block exactly as it was.
// The edits run twice: on the block as read (the default environment when
// its CRC fails) and on the raw bytes with their CRC made to hold, so that
// arbitrary entries reach the parser.
#include "fuzz_check.h"

#include "bootenv/uboot_env.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

bool ends_inside(const unsigned char *block)
{
    std::size_t pos = kUbootEnvData;
    while (pos < kUbootEnvSize) {
        if (block[pos] == 0)
            return true;
        const void *nul = std::memchr(block + pos, 0, kUbootEnvSize - pos);
        if (nul == nullptr)
            return false;
        pos = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - block) + 1;
    }
    return false;
}

template <typename Edit>
void checked_edit(unsigned char *block, Edit edit)
{
    unsigned char before[kUbootEnvSize];
    std::memcpy(before, block, kUbootEnvSize);
    if (edit(block) == 0) {
        FUZZ_CHECK(uboot_env_crc_ok(block));
        FUZZ_CHECK(ends_inside(block));
    } else {
        FUZZ_CHECK(std::memcmp(before, block, kUbootEnvSize) == 0);
    }
}

void edit_all(unsigned char *block, std::uint8_t selector)
{
    unsigned usb = selector % 16u;  // 10 to 15 must be refused
    checked_edit(block, [&](unsigned char *b) { return update_usb_setting(usb, b); });
    checked_edit(block, [&](unsigned char *b) { return uboot_env_set_usbd(b, usb % 10u); });
    for (int rate : {115200, 9600, 38400, 1200, 12345, -1})
        checked_edit(block, [&](unsigned char *b) { return update_uboot_baudrate_setting(rate, b, kUbootEnvSize); });
    checked_edit(block, [&](unsigned char *b) { return uboot_env_set_baudrate(b, 57600); });
    checked_edit(block, [&](unsigned char *b) { return update_uboot_baudrate_setting(9600, b, kUbootEnvSize - 1); });
    (void)uboot_env_get(block, "bootargs");
    (void)uboot_env_get(block, "baudrate");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_sim_root({{"/etc/gpio_states", "ZELMARBOARDTYPE=0\n"}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    unsigned char raw[kUbootEnvSize] = {};
    std::memcpy(raw, data, std::min(size, kUbootEnvSize));
    std::uint8_t selector = size > kUbootEnvSize ? data[kUbootEnvSize] : 3;

    unsigned char as_read[kUbootEnvSize];
    std::memcpy(as_read, raw, kUbootEnvSize);
    if (!uboot_env_crc_ok(as_read))
        uboot_env_use_default(as_read);
    FUZZ_CHECK(uboot_env_crc_ok(as_read));
    edit_all(as_read, selector);

    uboot_env_store_crc(raw);
    edit_all(raw, selector);
    return 0;
}
