// Migration steps whose work a later step overwrites, so that only the
// single step shows it. Whole migrations, from every version, are golden
// cases (tests/golden/migrate-*).
#include "image_fixture.h"

#include "settings/migrate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace settings;

namespace {

int no_fips() { return 0; }

} // namespace

// The step to 19 clears spans that the step to 20 drops; the step to 21
// writes "public" into each community slot and keeps the rest of it, which
// the step to 27 does not copy; the step to 31 sets again what the step to
// 28 sets.
TEST(Migration, StepsThatALaterStepHides)
{
    struct Row {
        unsigned from;
        std::uint8_t fill;
        const char *after;
    } rows[] = {
        {18, 0x77, "layout 19; clearedAt19Signatures1 fill:00; clearedAt19MlnInfo fill:00; clearedAt19Signatures2 fill:00"},
        {20, 0x41, "layout 20; trapCommunities[*] hex:7075626c6963004141414141414141414141414141"},
        {27, 0x41, "updatePolicy 0; fwManagementEnabled 0; isoUrl \"\"; updateDate 0; manualPolicyFrontBays0 0xFFFFFFFF; "
                   "manualPolicyFrontBays1 0xFFFFFFFF; serverBaysInProgress0 0; serverBaysInProgress1 0"},
    };
    for (const Row &r : rows) {
        std::vector<std::uint8_t> image(kImageSize, r.fill);
        patch_image(image, "magic \"002\"; version " + std::to_string(r.from));
        MigrationLog log;
        ASSERT_TRUE(migrate_one_step(Image(image.data(), kImageSize), no_fips, log));
        std::vector<std::uint8_t> want = image;
        patch_image(want, r.after);
        EXPECT_EQ(want, image) << r.from;
        EXPECT_EQ(image[F("version").offset], r.from + 1);
    }
}
