// Board identity: the board type written at boot into /etc/gpio_states, the
// module's identity EEPROM and the enclosure's FRU EEPROM on /dev/i2c0.
// Used by the factory defaults and by the USB edit of the boot environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The identity record, 22 bytes; all of them sum to 0 modulo 256.
struct IdentityField {
    std::size_t offset;
    std::size_t size;
};
inline constexpr std::size_t kBoardIdentitySize = 22;
inline constexpr IdentityField kIdentityHeader = {0, 7};
inline constexpr IdentityField kIdentityUniqueId = {7, 6};         // printed as 12 hex digits
inline constexpr IdentityField kIdentityDefaultPassword = {13, 8};  // up to 8 chars, NUL-ended when shorter
inline constexpr IdentityField kIdentityChecksum = {21, 1};

// Filled by read_board_identity (zero until then); kept whatever the result.
extern unsigned char board_identity[kBoardIdentitySize];

std::span<const unsigned char> board_unique_id();
std::string board_default_password();  // at most 8 characters

// The FRU strings area filled by read_fru_strings: serial number then part number.
inline constexpr std::size_t kFruStringsSize = 37;
inline constexpr std::size_t kFruSerialOffset = 0;       // 21 bytes, at most 20 characters
inline constexpr std::size_t kFruSerialSize = 21;
inline constexpr std::size_t kFruPartOffset = 21;        // 16 bytes, at most 15 characters
inline constexpr std::size_t kFruPartSize = 16;

// Descriptor of /dev/i2c0 during a transaction sequence, otherwise -1.
extern int i2c_fd;

// Stores the number after "ZELMARBOARDTYPE=" in /etc/gpio_states. 0, or -1
// (with a message on stderr) when the file cannot be read or lacks the key.
int read_board_type(int *type);

// Pure part of read_board_type: the type in the text of /etc/gpio_states.
bool parse_board_type(std::string_view text, int *type);

// Reads the identity record into board_identity. 0 when its checksum holds;
// 1 no board type or no bus, -4 address write failed, -3 read failed,
// -7 bad checksum.
int read_board_identity(void);

// Decodes the chassis serial and part numbers from the FRU EEPROM into
// `out` (kFruStringsSize bytes). 0, or 1 (no board type or bus), -3 (read
// failed or undecodable field), -4 (address or multiplexer write failed),
// -7 (bad header or chassis area).
int read_fru_strings(char *out);

// Pure parts of read_fru_strings over the 256 bytes read at each step.
// The chassis area's EEPROM address from the common header, or -7.
int fru_chassis_area_address(const unsigned char *header, unsigned *address);
// Checks the chassis area and decodes its part and serial numbers into `out`.
int fru_decode_chassis_area(const unsigned char *area, char *out);

// Decodes one FRU type/length field into `out` (at most `size` bytes with the
// NUL). 0, or -6 for type 0 (raw) with data or an unusable `out`/`size`.
int fru_decode_field(const unsigned char *field, char *out, int size);

// True when the 22 bytes of an identity record sum to 0 modulo 256.
bool identity_checksum_ok(const unsigned char *record);

// One transfer with the slave `address` on i2c_fd: 0 when exactly `length`
// bytes moved, -1 otherwise; a length below 1 does nothing and returns 0.
int i2c_read(int address, int length, void *buffer);
int i2c_write(int address, int length, const void *buffer);
