#include "settings/image.h"

#include <cstdlib>
#include <cstring>

unsigned char settings_image[settings::kImageSize];

bool magic_accepted(const unsigned char *image)
{
    const unsigned char *m = image + settings::F("magic").offset;
    if (std::memcmp(m, "ZRN", 3) == 0 || std::memcmp(m, "002", 3) == 0)
        return true;
    char text[4] = {static_cast<char>(m[0]), static_cast<char>(m[1]), static_cast<char>(m[2]), '\0'};
    return std::atoi(text) != 0;
}

void zero_pad(unsigned char *image)
{
    constexpr settings::Field kPad = settings::F("pad");
    std::memset(image + kPad.offset, 0, kPad.width());
}

void encode_image(unsigned char *image, unsigned char *raw)
{
    zero_pad(image);
    encode_blocks(image, raw);
}

void nvram_store(int *slot)
{
    encode_image(settings_image, raw_nvram_image);
    nvram_write(slot);
}
