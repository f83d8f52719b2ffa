// The settings image in memory, and what the layout says of a whole image:
// the magic a load accepts, the pad that holds no setting, its encoding
// onto the device.
#pragma once

#include "settings/layout.h"
#include "store/nvram.h"

static_assert(settings::kImageSize == kNvramDataSize);

// The process-wide image: every load overwrites it, the writers read it.
extern unsigned char settings_image[settings::kImageSize];

// "ZRN", "002" or three characters atoi reads as non-zero.
bool magic_accepted(const unsigned char *image);

// Zeroes the tail that holds no setting.
void zero_pad(unsigned char *image);

// Zeroes the image's pad and encodes all of it into `raw`.
void encode_image(unsigned char *image, unsigned char *raw);

// Stores settings_image on the device (its pad zeroed), or ends the run.
void nvram_store(int *env_lock_fd);
