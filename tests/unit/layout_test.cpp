#include "settings/layout.h"

#include <gtest/gtest.h>

#include <vector>

using namespace settings;

namespace {

// Counts how often each byte is claimed by the fields of a table.
std::vector<int> coverage(std::span<const Field> table, std::size_t size, const char *skip = nullptr)
{
    std::vector<int> seen(size, 0);
    for (const Field &f : table) {
        if (skip && std::string_view(f.name) == skip)
            continue;
        for (std::size_t b = f.offset; b < f.end() && b < size; ++b)
            ++seen[b];
    }
    return seen;
}

void expect_each_byte_once(const std::vector<int> &seen, const char *what)
{
    for (std::size_t b = 0; b < seen.size(); ++b)
        ASSERT_EQ(seen[b], 1) << what << ": byte " << b;
}

} // namespace

TEST(Layout, EveryByteOfTheImageBelongsToExactlyOneField)
{
    // The FIPS user table overlays the standard one; each alone must tile the image.
    expect_each_byte_once(coverage(kLayout40, IMAGE_SIZE, "userRecordsFips"), "standard users");
    auto fips = coverage(kLayout40, IMAGE_SIZE, "userRecords");
    for (std::size_t b = F("userRecordsFips").end(); b < F("userRecords").end(); ++b)
        ++fips[b];  // the standard table is longer; the rest of it is unused under FIPS
    expect_each_byte_once(fips, "FIPS users");
    EXPECT_EQ(F("SSLSessionCacheTimeout").end(), 10648u);
    EXPECT_EQ(F("pad").end(), IMAGE_SIZE);
}

TEST(Layout, RecordTablesTileTheirRecords)
{
    expect_each_byte_once(coverage(kUserRecordStd, F("userRecords").size), "standard record");
    expect_each_byte_once(coverage(kUserRecordFips, F("userRecordsFips").size), "FIPS record");
    expect_each_byte_once(coverage(kLdapGroupRecord, F("ldapGroupRecords").size), "group record");
    // Record 0's hash sits at the same image offset in both layouts.
    EXPECT_EQ(F("userRecords").offset + UserStd("userPasswordHash").offset, 326);
    EXPECT_EQ(F("userRecordsFips").offset + UserFips("userPasswordHashFips").offset, 326);
}

TEST(Layout, NumbersAtOddOffsetsAreBigEndian)
{
    std::vector<std::uint8_t> image(IMAGE_SIZE, 0);
    set_i(image.data(), F("pwrCeiling"), -2);
    set_u(image.data(), F("baudRate"), 115200);
    set_u(image.data(), F("tcpTimeout"), 0xBEEF);
    EXPECT_EQ(get_i(image.data(), F("pwrCeiling")), -2);
    EXPECT_EQ(get_u(image.data(), F("baudRate")), 115200u);
    EXPECT_EQ(image[10291], 0x00);
    EXPECT_EQ(image[10292], 0x01);
    EXPECT_EQ(image[10293], 0xC2);
    EXPECT_EQ(image[10294], 0x00);
    EXPECT_EQ(image[10414], 0xBE);
    EXPECT_EQ(image[10415], 0xEF);
    // Neighbours are untouched.
    EXPECT_EQ(image[10290], 0);
    EXPECT_EQ(image[10295], 0);
}

TEST(Layout, ArrayElementsAndSignedWidths)
{
    std::vector<std::uint8_t> image(IMAGE_SIZE, 0);
    set_i(image.data(), F("serverDelays"), -300, 47);
    set_u(image.data(), F("userBayMask2"), 0x80000001u, 30);
    EXPECT_EQ(get_i(image.data(), F("serverDelays"), 47), -300);
    EXPECT_EQ(get_u(image.data(), F("serverDelays"), 47), 0xFED4u);
    EXPECT_EQ(get_u(image.data(), F("userBayMask2"), 30), 0x80000001u);
    EXPECT_EQ(image[9503 + 2 * 47], 0xFE);
    EXPECT_EQ(image[9083 + 4 * 30], 0x80);
}

TEST(Layout, TextsStopAtTheirWidth)
{
    std::vector<std::uint8_t> image(IMAGE_SIZE, 0xAA);
    const std::string longest(32, 'x');
    set_text(image.data(), F("certsMD5"), longest + "overflow");
    EXPECT_EQ(get_text(image.data(), F("certsMD5")), longest);
    EXPECT_EQ(image[7607 + 32], 0);          // terminator in the last byte
    EXPECT_EQ(image[7607 + 33], 0xAA);       // next field untouched
    set_text(image.data(), F("TZ"), "UTC");
    EXPECT_EQ(get_text(image.data(), F("TZ")), "UTC");
    for (int b = 203; b < 240; ++b)
        ASSERT_EQ(image[b], 0) << b;         // rest of the field zeroed
    // A field without a terminator reads to its end, never beyond.
    std::fill(image.begin() + 4, image.begin() + 37, 'N');
    EXPECT_EQ(get_text(image.data(), F("enclosureName")).size(), 33u);
}

TEST(Layout, RecordFieldsAndBits)
{
    std::vector<std::uint8_t> image(IMAGE_SIZE, 0);
    std::uint8_t *rec = record(image.data(), F("userRecordsFips"), 20);
    set_u(rec, UserFips("userIdFips"), 4242);
    EXPECT_EQ(image[241 + 163 * 20 + 156], 4242 >> 8);
    set_bit(image.data(), B("KivuFederation"), true);
    set_bit(image.data(), B("ipv6DhcpEnabled"), true);
    EXPECT_EQ(image[10409], 0x80);
    EXPECT_EQ(image[9632], 0x02);
    EXPECT_TRUE(get_bit(image.data(), B("ipv6DhcpEnabled")));
    EXPECT_FALSE(get_bit(image.data(), B("ipv6Enabled")));
    set_bit(image.data(), B("KivuFederation"), false);
    EXPECT_EQ(image[10409], 0);
    EXPECT_NE(find_field(kLayout40, "urbUrl"), nullptr);
    EXPECT_EQ(find_field(kLayout40, "noSuchField"), nullptr);
}
