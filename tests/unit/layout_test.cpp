// The field tables: each claims every byte of its record once. The accessors
// over them are exercised by every golden case.
#include "settings/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace settings;

TEST(Layout, TablesClaimEveryByteOnce)
{
    // The FIPS user table overlays the standard one, which tiles the image.
    const std::pair<std::span<const Field>, std::size_t> tilings[] = {
        {kLayout40, kImageSize}, {kUserRecordStd, F("userRecords").size},
        {kUserRecordFips, F("userRecordsFips").size}, {kLdapGroupRecord, F("ldapGroupRecords").size}};
    for (const auto &[table, size] : tilings) {
        std::vector<int> seen(size);
        for (const Field &f : table)
            for (std::size_t b = f.offset; b < f.end() && std::string_view(f.name) != "userRecordsFips"; ++b)
                ++seen.at(b);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(size)) << table.front().name;
    }
    EXPECT_LE(F("userRecordsFips").end(), F("userRecords").end());
    EXPECT_EQ(F("pad").offset, 10648u);
}
