#include "store/nvram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<std::uint8_t> patterned_image()
{
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::memcpy(image.data(), "ZRN", 3);
    return image;
}

} // namespace

TEST(NvramCodec, EncodeZeroesThePadAndDecodesBack)
{
    auto image = patterned_image();
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    for (std::size_t b = 10648; b < settings::IMAGE_SIZE; ++b)
        ASSERT_EQ(image[b], 0) << b;
    std::vector<std::uint8_t> back(settings::IMAGE_SIZE, 0x55);
    DecodeResult r = decode_raw_image(raw.data(), back.data());
    EXPECT_EQ(r.failed_block, -1);
    EXPECT_EQ(r.corrected, 0);
    EXPECT_EQ(back, image);
}

TEST(NvramCodec, CorrectionsAreCountedAcrossBlocks)
{
    auto image = patterned_image();
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    raw[0] ^= 0x01;                  // block 0, data
    raw[255 * 48 + 254] ^= 0xFF;     // block 48, last check byte
    for (int i = 0; i < 16; ++i)     // block 20, the most a codeword takes
        raw[255 * 20 + i * 15] ^= 0x5A;
    std::vector<std::uint8_t> back(settings::IMAGE_SIZE);
    DecodeResult r = decode_raw_image(raw.data(), back.data());
    EXPECT_EQ(r.failed_block, -1);
    EXPECT_EQ(r.corrected, 18);
    EXPECT_EQ(back, image);
}

TEST(NvramCodec, UncorrectableBlockStopsTheCopy)
{
    auto image = patterned_image();
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    for (int i = 0; i < 40; ++i)
        raw[255 * 5 + i] ^= static_cast<std::uint8_t>(0x11 + i);
    std::vector<std::uint8_t> back(settings::IMAGE_SIZE, 0xEE);
    DecodeResult r = decode_raw_image(raw.data(), back.data());
    EXPECT_EQ(r.failed_block, 5);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 5 * 223, image.begin()));
    for (std::size_t b = 5 * 223; b < back.size(); ++b)
        ASSERT_EQ(back[b], 0xEE) << b;
}

TEST(NvramCodec, ErasedAndZeroedDevicesAreValidCodewords)
{
    for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE, fill), image(settings::IMAGE_SIZE);
        DecodeResult r = decode_raw_image(raw.data(), image.data());
        EXPECT_EQ(r.failed_block, -1);
        EXPECT_EQ(r.corrected, 0);
        EXPECT_FALSE(magic_accepted(image.data()));
    }
}

TEST(NvramMagic, AcceptedForms)
{
    struct Case {
        const char *magic;
        bool accepted;
    } cases[] = {{"ZRN", true}, {"002", true}, {"123", true}, {"001", true}, {"9ab", true},
                 {"000", false}, {"ABC", false}, {"zrn", false}, {"-00", false}, {"\0\0\0", false}};
    for (const Case &c : cases) {
        std::uint8_t image[4] = {};
        std::memcpy(image, c.magic, 3);
        EXPECT_EQ(magic_accepted(image), c.accepted) << c.magic;
    }
}
