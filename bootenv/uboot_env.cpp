#include "bootenv/uboot_env.h"

#include "board/board.h"
#include "platform/platform.h"
#include "store/crc32.h"
#include "store/exit.h"
#include "store/record.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

const RecordedDevice kUbootDevice{"/dev/uboot", kUbootEnvSize, ".uboot.pending", nullptr};

namespace {

const char kDebugLog[] = "/ramdisk/ubootmsg.log";

#define UBOOT_LOG(function, ...) \
    writeDbgMsgToLogFile(kDebugLog, "uboot_env", __LINE__, function, __VA_ARGS__)

constexpr std::string_view kBaudrateEntry = "baudrate=";
constexpr std::string_view kBootargsEntry = "bootargs=";
constexpr std::string_view kConsoleParam = "console=ttyS0,";
constexpr std::string_view kUsbParam = " usbd=";

// The entries of a block's data area, in order, and how many data bytes the
// environment occupies (entries and end mark).
struct Environment {
    std::vector<std::string> entries;
    std::size_t length = 0;
};

Environment parse(const unsigned char *block)
{
    const unsigned char *data = block + kUbootEnvData;
    Environment env;
    std::size_t pos = 0;
    while (pos < kUbootEnvDataSize) {
        if (data[pos] == 0) {  // the empty entry that ends the list
            env.length = pos + 1;
            return env;
        }
        const void *nul = std::memchr(data + pos, 0, kUbootEnvDataSize - pos);
        std::size_t end = nul ? static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - data)
                              : kUbootEnvDataSize;
        env.entries.emplace_back(reinterpret_cast<const char *>(data + pos), end - pos);
        pos = end + 1;
    }
    env.length = kUbootEnvDataSize;  // no end mark: the environment fills the area
    return env;
}

// Lays `entries` and the end mark over the old environment. Bytes after the
// old environment keep their places; when the environment shrinks, the bytes
// it frees take the block's padding byte (its last byte).
int store(unsigned char *block, const Environment &old, const std::vector<std::string> &entries)
{
    std::string text;
    for (const std::string &e : entries) {
        text += e;
        text += '\0';
    }
    text += '\0';
    if (text.size() > kUbootEnvDataSize)
        return kUbootEditNoRoom;
    unsigned char *data = block + kUbootEnvData;
    unsigned char pad = block[kUbootEnvSize - 1];
    std::memcpy(data, text.data(), text.size());
    if (old.length > text.size())
        std::memset(data + text.size(), pad, old.length - text.size());
    uboot_env_store_crc(block);
    return kUbootEditOk;
}

bool starts_with(const std::string &s, std::string_view prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// bootargs with its console rate replaced; the old digits end at the first
// space after the parameter, and everything from that space on is kept.
std::string with_console_rate(const std::string &entry, int rate)
{
    std::size_t at = entry.find(kConsoleParam);
    if (at == std::string::npos)
        return entry;
    std::size_t rest = entry.find(' ', at + kConsoleParam.size());
    std::string out = entry.substr(0, at);
    out += kConsoleParam;
    out += std::to_string(rate);
    if (rest != std::string::npos)
        out += entry.substr(rest);
    return out;
}

} // namespace

const unsigned char uboot_default_env[203] =
    "bootcmd=bootm ff800000 ffb80000\0"
    "bootdelay=1\0"
    "baudrate=9600\0"
    "loads_echo=1\0"
    "ethaddr=DE:AD:BE:EF:01:01\0"
    "silent=1\0"
    "autoload=n\0"
    "stdin=serial\0"
    "stdout=serial\0"
    "stderr=serial\0"
    "bootargs=root=/dev/ram0 console=ttyS0,9600\0";  // the literal's own NUL is the end mark

std::uint32_t uboot_env_crc(const unsigned char *block)
{
    return crc32_update(0, block + kUbootEnvData, kUbootEnvDataSize);
}

static std::uint32_t stored_crc(const unsigned char *block)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < kUbootEnvCrcSize; ++i)
        v = (v << 8) | block[i];
    return v;
}

bool uboot_env_crc_ok(const unsigned char *block)
{
    return uboot_env_crc(block) == stored_crc(block);
}

void uboot_env_store_crc(unsigned char *block)
{
    std::uint32_t crc = uboot_env_crc(block);
    for (std::size_t i = kUbootEnvCrcSize; i-- > 0;) {
        block[i] = static_cast<unsigned char>(crc);
        crc >>= 8;
    }
}

void uboot_env_use_default(unsigned char *block)
{
    std::memcpy(block + kUbootEnvData, uboot_default_env, sizeof uboot_default_env);
    uboot_env_store_crc(block);
}

std::optional<std::string> uboot_env_get(const unsigned char *block, std::string_view name)
{
    for (const std::string &e : parse(block).entries)
        if (e.size() > name.size() && e.compare(0, name.size(), name) == 0 && e[name.size()] == '=')
            return e.substr(name.size() + 1);
    return std::nullopt;
}

int uboot_env_set_usbd(unsigned char *block, unsigned usb)
{
    Environment env = parse(block);
    std::vector<std::string> entries = env.entries;
    auto it = entries.begin();
    while (it != entries.end() && !starts_with(*it, kBootargsEntry))
        ++it;
    if (it == entries.end())
        return kUbootEditNoBootargs;
    char digit = static_cast<char>('0' + usb);
    std::size_t at = it->find(kUsbParam);
    if (at != std::string::npos) {
        std::size_t pos = at + kUsbParam.size();
        if (pos < it->size())
            (*it)[pos] = digit;
        else
            *it += digit;  // a bare " usbd=" gets its digit without eating the NUL
    } else {
        std::string moved = *it + std::string(kUsbParam) + digit;
        entries.erase(it);
        entries.push_back(moved);
    }
    return store(block, env, entries);
}

int uboot_env_set_baudrate(unsigned char *block, int rate)
{
    Environment env = parse(block);
    std::vector<std::string> entries = env.entries;
    for (std::string &e : entries) {
        if (starts_with(e, kBaudrateEntry))
            e = std::string(kBaudrateEntry) + std::to_string(rate);
        else if (starts_with(e, kBootargsEntry))
            e = with_console_rate(e, rate);
    }
    return store(block, env, entries);
}

int read_uboot_env(unsigned char *block)
{
    if (block == nullptr) {
        UBOOT_LOG("read_uboot_env", "Invalid buffer address found.\n");
        return -1;
    }
    int fd = platform::open(kUbootDevice.path, O_RDONLY);
    if (fd < 0) {
        UBOOT_LOG("read_uboot_env", "Can't open /dev/uboot. %s\n", std::strerror(errno));
        end_run(-1);
    }
    ssize_t n = ::read(fd, block, kUbootEnvSize);
    if (n != static_cast<ssize_t>(kUbootEnvSize)) {
        if (n >= 0)
            errno = EIO;  // a short device says nothing of its own
        UBOOT_LOG("read_uboot_env", "Error reading from NVRAM. %s\n", std::strerror(errno));
        ::close(fd);
        end_run(-1);
    }
    ::close(fd);
    // A write cut by a power failure is finished before the CRC is judged.
    if (int err = settle_pending_write(kUbootDevice, {block, kUbootEnvSize})) {
        UBOOT_LOG("read_uboot_env", "Write to /dev/uboot failed. %s\n", std::strerror(err));
        end_run(-1);
    }
    std::uint32_t crc = uboot_env_crc(block);
    if (crc == stored_crc(block))
        return 0;
    uboot_env_use_default(block);
    UBOOT_LOG("read_uboot_env",
              "Bad UBOOT environment CRC value found [%X], using default environment\n", crc);
    return 0;
}

void settle_uboot_env()
{
    if (!has_record(kUbootDevice))
        return;
    std::array<unsigned char, kUbootEnvSize> block{};
    read_uboot_env(block.data());  // settles before it judges the CRC
}

int write_uboot_env(const unsigned char *block)
{
    if (block == nullptr) {
        UBOOT_LOG("write_uboot_env", "Invalid buffer address found.\n");
        end_run(-1);
    }
    int fd = platform::open(kUbootDevice.path, O_RDWR);
    if (fd < 0) {
        UBOOT_LOG("write_uboot_env", "Can't open /dev/uboot. %s\n", std::strerror(errno));
        end_run(-1);
    }
    int err = write_recorded(kUbootDevice, fd, {block, kUbootEnvSize}).error;
    if (err != 0) {
        UBOOT_LOG("write_uboot_env", "Write to /dev/uboot failed. %s\n", std::strerror(err));
        ::close(fd);
        end_run(-1);
    }
    ::close(fd);
    return 0;
}

int update_usb_setting(std::uint32_t usb, unsigned char *block)
{
    const char *fn = "update_usb_setting";
    if (block == nullptr) {
        UBOOT_LOG(fn, "Invalid buffer address found.\n");
        return -1;
    }
    int type = -1;
    if (read_board_type(&type) != 0 || type == -1) {
        UBOOT_LOG(fn, "Failed to read the ZELMAR board type.\n");
        return -1;
    }
    if (type > 1)
        return 0;  // these boards have no USB mode
    if (usb > 9) {
        UBOOT_LOG(fn, "USB value of %d is out of range.\n", static_cast<int>(usb));
        return -1;
    }
    int rc = uboot_env_set_usbd(block, usb);
    if (rc == kUbootEditNoBootargs)
        UBOOT_LOG(fn, "Unable to locate bootargs entry in UBOOT environment.\n");
    else if (rc == kUbootEditNoRoom)
        UBOOT_LOG(fn, "No room left in UBOOT environment.\n");
    return rc == kUbootEditOk ? 0 : -1;
}

int update_uboot_baudrate_setting(std::int32_t rate, unsigned char *block, std::size_t size)
{
    const char *fn = "update_uboot_baudrate_setting";
    if (block == nullptr || size < kUbootEnvSize) {
        UBOOT_LOG(fn, "Invalid buffer size and/or address parameters found.\n");
        return -1;
    }
    if (validate_baudrate(rate) == -1) {
        UBOOT_LOG(fn, "Invalid baudrate value found.\n");
        return -1;
    }
    if (uboot_env_set_baudrate(block, rate) != kUbootEditOk) {
        UBOOT_LOG(fn, "No room left in UBOOT environment.\n");
        return -1;
    }
    return 0;
}

int save_uboot_baudrate_setting(std::int32_t rate)
{
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kUbootEnvSize]());
    if (!block) {
        UBOOT_LOG("save_uboot_baudrate_setting", "Failed allocate buffer of %d bytes in size.\n",
                  static_cast<int>(kUbootEnvSize));
        return -1;
    }
    int rc = read_uboot_env(block.get());
    if (rc == 0)
        rc = update_uboot_baudrate_setting(rate, block.get(), kUbootEnvSize);
    if (rc == 0)
        rc = write_uboot_env(block.get());
    return rc;
}
