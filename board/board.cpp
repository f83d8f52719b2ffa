#include "board/board.h"

#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

unsigned char board_identity[kBoardIdentitySize];
int i2c_fd = -1;

namespace {

constexpr std::string_view kBoardTypeKey = "ZELMARBOARDTYPE";
constexpr std::size_t kGpioStatesRead = 255;

// Identity EEPROM: address and start offset by board type.
constexpr int kIdentityEepromLow = 0x50;   // board types 0 and 1
constexpr int kIdentityEepromHigh = 0x52;  // board types above 1
constexpr unsigned char kIdentityOffsetLow = 0x00;
constexpr unsigned char kIdentityOffsetHigh = 0x10;

// FRU EEPROM behind a multiplexer.
constexpr int kMuxOddBoards = 0x75;  // board types 1, 3 and 5
constexpr int kMuxOtherBoards = 0x76;
constexpr unsigned char kMuxSelectFru = 0x80;
constexpr int kFruEeprom = 0x56;
constexpr int kFruReadSize = 256;

// IPMI FRU common header and chassis info area.
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kHeaderChassisOffset = 2;  // in multiples of 8 bytes
constexpr std::size_t kAreaFormat = 0;
constexpr std::size_t kAreaLength = 1;           // in multiples of 8 bytes
constexpr std::size_t kAreaPartNumber = 3;       // first type/length field
constexpr unsigned kAreaMaxLength = 32;
constexpr unsigned kFruUnit = 8;

constexpr char kBcdPlus[] = "0123456789 -.  B";

unsigned char sum(const unsigned char *bytes, std::size_t n)
{
    unsigned s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += bytes[i];
    return static_cast<unsigned char>(s);
}

// Closes the bus and passes `result` on.
int close_bus(int result)
{
    if (i2c_fd >= 0)
        platform::i2c_close(i2c_fd);
    i2c_fd = -1;
    return result;
}

int board_type_or_unknown()
{
    int type = -1;
    if (read_board_type(&type) != 0)
        return -1;
    return type;
}

int write_byte(int address, unsigned char byte)
{
    return i2c_write(address, 1, &byte);
}

int write_fru_address(unsigned address)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>(address >> 8),
                                    static_cast<unsigned char>(address)};
    return i2c_write(kFruEeprom, 2, bytes);
}

// perror naming the file as this platform sees it: the simulated module's
// path lies inside its root, the board's is the path itself.
void report_failure(const char *action, const char *module_path)
{
    int err = errno;
    char text[256];
    std::snprintf(text, sizeof text, "Error:  Could not %s %s", action, platform::path(module_path).c_str());
    errno = err;
    std::perror(text);
}

} // namespace

std::span<const unsigned char> board_unique_id()
{
    return {board_identity + kIdentityUniqueId.offset, kIdentityUniqueId.size};
}

std::string board_default_password()
{
    const char *p = reinterpret_cast<const char *>(board_identity + kIdentityDefaultPassword.offset);
    return std::string(p, strnlen(p, kIdentityDefaultPassword.size));
}

bool parse_board_type(std::string_view text, int *type)
{
    std::size_t at = text.find(kBoardTypeKey);
    if (at == std::string_view::npos)
        return false;
    std::string rest(text.substr(at + kBoardTypeKey.size()));
    if (rest.empty() || rest[0] != '=')
        return false;
    const char *digits = rest.c_str() + 1;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(digits, &end, 10);
    if (end == digits || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    *type = static_cast<int>(v);
    return true;
}

int read_board_type(int *type)
{
    int fd = platform::open("/etc/gpio_states", O_RDONLY);
    if (fd < 0) {
        report_failure("open", "/etc/gpio_states");
        return -1;
    }
    char text[kGpioStatesRead + 1] = {};
    ssize_t n = ::read(fd, text, kGpioStatesRead);
    if (n < 0) {
        report_failure("read", "/etc/gpio_states");
        ::close(fd);
        return -1;
    }
    ::close(fd);
    int parsed = 0;
    if (type == nullptr || !parse_board_type(std::string_view(text, static_cast<std::size_t>(n)), &parsed)) {
        std::fprintf(stderr, "ZELMARBOARDTYPE not found (%d)", static_cast<int>(n));
        return -1;
    }
    *type = parsed;
    return 0;
}

int i2c_read(int address, int length, void *buffer)
{
    if (length < 1)
        return 0;
    if (platform::i2c_select(i2c_fd, address) < 0)
        return -1;
    return platform::i2c_read(i2c_fd, buffer, static_cast<std::size_t>(length)) == length ? 0 : -1;
}

int i2c_write(int address, int length, const void *buffer)
{
    if (length < 1)
        return 0;
    if (platform::i2c_select(i2c_fd, address) < 0)
        return -1;
    return platform::i2c_write(i2c_fd, buffer, static_cast<std::size_t>(length)) == length ? 0 : -1;
}

bool identity_checksum_ok(const unsigned char *record)
{
    return sum(record, kBoardIdentitySize) == 0;
}

int read_board_identity(void)
{
    int type = board_type_or_unknown();
    if (type == -1)
        return 1;
    int eeprom = type > 1 ? kIdentityEepromHigh : kIdentityEepromLow;
    unsigned char offset = type > 1 ? kIdentityOffsetHigh : kIdentityOffsetLow;
    i2c_fd = platform::i2c_open();
    if (i2c_fd < 0)
        return close_bus(1);
    if (write_byte(eeprom, offset) != 0)
        return close_bus(-4);
    if (i2c_read(eeprom, static_cast<int>(kBoardIdentitySize), board_identity) != 0)
        return close_bus(-3);
    return close_bus(identity_checksum_ok(board_identity) ? 0 : -7);
}

int fru_chassis_area_address(const unsigned char *header, unsigned *address)
{
    if (sum(header, kHeaderSize) != 0 || header[kHeaderChassisOffset] == 0)
        return -7;
    *address = header[kHeaderChassisOffset] * kFruUnit;
    return 0;
}

int fru_decode_chassis_area(const unsigned char *area, char *out)
{
    unsigned length = area[kAreaLength];
    if (area[kAreaFormat] != 1 || length < 1 || length > kAreaMaxLength || sum(area, length * kFruUnit) != 0)
        return -7;
    const unsigned char *part = area + kAreaPartNumber;
    const unsigned char *serial = part + 1 + (*part & 0x3F);
    if (fru_decode_field(part, out + kFruPartOffset, static_cast<int>(kFruPartSize)) != 0 ||
        fru_decode_field(serial, out + kFruSerialOffset, static_cast<int>(kFruSerialSize)) != 0)
        return -3;
    return 0;
}

int read_fru_strings(char *out)
{
    if (out == nullptr)
        return -3;
    int type = board_type_or_unknown();
    if (type == -1)
        return 1;
    int mux = (type == 1 || type == 3 || type == 5) ? kMuxOddBoards : kMuxOtherBoards;
    i2c_fd = platform::i2c_open();
    if (i2c_fd < 0) {
        std::fprintf(stderr, "Error:  Could not open %s\n", platform::path("/dev/i2c0").c_str());
        return close_bus(1);
    }
    unsigned char header[kFruReadSize];
    if (write_byte(mux, kMuxSelectFru) != 0 || write_fru_address(0) != 0)
        return close_bus(-4);
    if (i2c_read(kFruEeprom, kFruReadSize, header) != 0)
        return close_bus(-3);
    unsigned address = 0;
    if (fru_chassis_area_address(header, &address) != 0)
        return close_bus(-7);
    if (write_fru_address(address) != 0)
        return close_bus(-4);
    unsigned char area[kFruReadSize];
    bool read_ok = i2c_read(kFruEeprom, kFruReadSize, area) == 0;
    write_byte(mux, kMuxSelectFru);
    close_bus(0);
    if (!read_ok)
        return -3;
    return fru_decode_chassis_area(area, out);
}

int fru_decode_field(const unsigned char *field, char *out, int size)
{
    if (field == nullptr || out == nullptr || size < 1)
        return -6;
    unsigned type = *field >> 6;
    unsigned length = *field & 0x3F;
    const unsigned char *data = field + 1;
    std::size_t room = static_cast<std::size_t>(size) - 1;  // characters that fit before the NUL
    std::size_t n = 0;
    if (length == 0) {
        out[0] = '\0';
        return 0;
    }
    switch (type) {
    case 0:
        return -6;
    case 1: {  // BCD plus: two characters a byte, high nibble first
        std::size_t bytes = std::min<std::size_t>(length, static_cast<std::size_t>(size) / 2);
        for (std::size_t i = 0; i < bytes * 2 && n < room; ++i) {
            unsigned nibble = i % 2 == 0 ? data[i / 2] >> 4 : data[i / 2] & 0x0F;
            out[n++] = kBcdPlus[nibble];
        }
        break;
    }
    case 2: {  // six-bit ASCII: four characters in three bytes, low bits first
        std::size_t chars = length * 8 / 6;
        for (std::size_t i = 0; i < chars && n < room; ++i) {
            std::size_t bit = i * 6, byte = bit / 8, shift = bit % 8;
            unsigned code = data[byte] >> shift;
            if (shift > 2)
                code |= static_cast<unsigned>(data[byte + 1]) << (8 - shift);
            out[n++] = static_cast<char>(0x20 + (code & 0x3F));
        }
        break;
    }
    default:  // 8-bit ASCII or Latin-1
        n = std::min<std::size_t>(length, room);
        std::memcpy(out, data, n);
        break;
    }
    out[n] = '\0';
    return 0;
}
