// The device and its code: moving the raw image between /dev/env and memory,
// and turning its codewords into data bytes and back. What the data bytes
// mean is settings/' business (settings/image.h); what to do with an image
// is decided in settings/load.h.
#pragma once

#include "store/record.h"
#include "store/rs.h"

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kNvramBlocks = 49;
inline constexpr std::size_t kRawImageSize = kNvramBlocks * kRsN;   // 12495
inline constexpr std::size_t kNvramDataSize = kNvramBlocks * kRsK;  // 10927

// /dev/env, written through a record of each write; a factory restore
// keeps what it replaces as env.before-restore.
extern const RecordedDevice kEnvDevice;

// The device's bytes as the last read left them, or as the next write takes them.
extern unsigned char raw_nvram_image[kRawImageSize];

// Corrects every codeword of `raw` in place and copies the data bytes to
// `image`, stopping at the first uncorrectable codeword.
struct DecodeResult {
    int corrected;     // bytes corrected in the blocks decoded
    int failed_block;  // first uncorrectable block, or -1
};
DecodeResult decode_raw_image(unsigned char *raw, unsigned char *image);

// One codeword at a time: corrects codeword `block` of `raw` in place
// (returns the bytes corrected, or -1), and copies its data bytes to their
// place in `image`.
int correct_block(unsigned char *raw, std::size_t block);
void copy_block(const unsigned char *raw, unsigned char *image, std::size_t block);

// Encodes the kNvramDataSize bytes of `data` into the codewords of `raw`.
void encode_blocks(const unsigned char *data, unsigned char *raw);

// Reads the whole device into raw_nvram_image, or ends the run.
void nvram_read(int *env_lock_fd);
// Writes raw_nvram_image to the device in one write, or ends the run.
void nvram_write(int *env_lock_fd);
