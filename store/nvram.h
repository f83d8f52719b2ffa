// The device and its code: moving the raw image between /dev/env and memory,
// and turning it into the settings image and back. What to do with an image
// is decided above this, in settings/load.h.
#pragma once

#include "settings/layout.h"
#include "store/rs.h"

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t NVRAM_BLOCKS = 49;
inline constexpr std::size_t RAW_IMAGE_SIZE = NVRAM_BLOCKS * RS_N;  // 12495
static_assert(settings::IMAGE_SIZE == NVRAM_BLOCKS * RS_K);

// Process-wide buffers: every load overwrites them, the writers read the image.
extern unsigned char settings_image[settings::IMAGE_SIZE];
extern unsigned char raw_nvram_image[RAW_IMAGE_SIZE];

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

// Zeroes the image's pad and encodes all of it into `raw`.
void encode_image(unsigned char *image, unsigned char *raw);

// "ZRN", "002" or three characters atoi reads as non-zero.
bool magic_accepted(const unsigned char *image);

// Zeroes the tail that holds no setting.
void zero_pad(unsigned char *image);

// Reads the whole device into raw_nvram_image, or ends the run.
void nvram_read(int *env_lock_fd);
void nvram_store(int *env_lock_fd);
