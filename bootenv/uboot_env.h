// The boot loader's environment on /dev/uboot: one 1024-byte block whose
// first four bytes hold the CRC-32 (as zlib's crc32 from 0, big-endian) of the
// 1020-byte data area that follows. The data area holds "name=value" entries,
// each ended by a NUL; an empty entry (a second NUL) ends the list. Bytes
// after that end mark mean nothing and are carried through.
//
// Only read_uboot_env and write_uboot_env touch the device; the edits work on
// a block in memory and store a fresh CRC when they succeed. Messages go to
// the platform's debug log /ramdisk/ubootmsg.log, never to stdout or stderr.
#pragma once

#include "store/record.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where things sit in a block.
inline constexpr std::size_t kUbootEnvSize = 1024;
inline constexpr std::size_t kUbootEnvCrcSize = 4;                         // bytes 0-3
inline constexpr std::size_t kUbootEnvData = kUbootEnvCrcSize;            // data area start
inline constexpr std::size_t kUbootEnvDataSize = kUbootEnvSize - kUbootEnvData;  // 1020

// /dev/uboot, written through a record of each write.
extern const RecordedDevice kUbootDevice;

// The environment used when the device's CRC does not hold: eleven entries,
// each with its NUL, then the end mark (203 bytes).
extern const unsigned char uboot_default_env[203];

// CRC of the data area as the boot loader computes it.
std::uint32_t uboot_env_crc(const unsigned char *block);
bool uboot_env_crc_ok(const unsigned char *block);
void uboot_env_store_crc(unsigned char *block);
// Puts the default environment at the start of the data area (the rest of
// the block stays as it is) and stores the CRC.
void uboot_env_use_default(unsigned char *block);

// Reads the device into `block` (1024 bytes). Returns 0 with a usable
// environment (the device's, or the default one when its CRC fails), -1 when
// `block` is null. A device that cannot be opened or read whole ends the run
// with status 255.
int read_uboot_env(unsigned char *block);

// Settles a write of the device that a power cut left unfinished: every
// load does, as the device is read otherwise only when the console rate
// changes, and a cut write leaves the boot loader with its defaults.
void settle_uboot_env();

// Writes the 1024 bytes of `block` to the device as they are (the caller has
// stored the CRC) and returns 0. Any failure, a short write included, ends
// the run with status 255.
int write_uboot_env(const unsigned char *block);

// Results of the pure edits below.
enum UbootEditResult {
    kUbootEditOk = 0,
    kUbootEditNoBootargs = -2,  // the environment has no bootargs entry
    kUbootEditNoRoom = -3,      // the edited environment would not fit the data area
};

// Pure: gives bootargs the kernel parameter " usbd=<usb>" (usb 0..9). An
// existing parameter has its digit replaced in place; otherwise the entry
// moves to the end of the environment with the parameter appended. On
// failure the block is unchanged.
int uboot_env_set_usbd(unsigned char *block, unsigned usb);

// Pure: sets every baudrate entry to "baudrate=<rate>" and the rate of the
// "console=ttyS0," parameter of every bootargs entry, keeping every other
// parameter. On failure the block is unchanged.
int uboot_env_set_baudrate(unsigned char *block, int rate);

// The value of entry `name` in the environment of `block`, if present.
std::optional<std::string> uboot_env_get(const unsigned char *block, std::string_view name);

// Gives bootargs the USB mode `usb` on boards that have one (board types 0
// and 1; other boards: returns 0 and leaves the block alone). Returns -1 when
// the board type is unknown, usb is above 9, bootargs is missing or the
// environment would not fit.
int update_usb_setting(std::uint32_t usb, unsigned char *block);

// Sets the console baud rate in a block of `size` bytes (at least 1024).
// Returns -1 for a bad block, a rate the platform rejects, or no room.
int update_uboot_baudrate_setting(std::int32_t rate, unsigned char *block, std::size_t size);

// Reads /dev/uboot, sets the baud rate and writes it back; 0 or -1.
int save_uboot_baudrate_setting(std::int32_t rate);
