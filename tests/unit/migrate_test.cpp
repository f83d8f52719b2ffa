// Settings migration in process: the edge cases of single steps, and whole
// migrations compared with images built by hand.
#include "image_fixture.h"

#include "settings/layouts_old.h"
#include "settings/migrate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace settings;

namespace {

using Bytes = std::vector<std::uint8_t>;

int no_fips() { return 0; }
int fips() { return 1; }

Bytes image_at(unsigned version, std::uint8_t fill = 0)
{
    Bytes image(IMAGE_SIZE, fill);
    std::memcpy(image.data(), "002", 3);
    image[F("version").offset] = static_cast<std::uint8_t>(version);
    return image;
}

Image view(Bytes &image) { return Image(image.data(), IMAGE_SIZE); }

MigrationLog step(Bytes &image, FipsQuery fips_mode = no_fips)
{
    MigrationLog log;
    EXPECT_TRUE(migrate_one_step(view(image), fips_mode, log));
    return log;
}

MigrationLog migrate(Bytes &image) { return migrate_image(view(image), no_fips); }

std::string text(const Bytes &image, Field f, unsigned index = 0) { return std::string(get_text(image.data(), f, index)); }

Bytes fixture(const std::string &name)
{
    return load_image_fixture(std::string(CFG_SOURCE_DIR) + "/tests/fixtures/" + name, IMAGE_SIZE);
}

void expect_same_image(const Bytes &got, const Bytes &want)
{
    int shown = 0;
    for (std::size_t b = 0; b < want.size() && shown < 12; ++b)
        if (got[b] != want[b]) {
            ADD_FAILURE() << "byte " << b << " (" << field_at(b) << "): got " << int(got[b]) << ", want "
                          << int(want[b]);
            ++shown;
        }
}

void expect_zero_from(const Bytes &image, std::size_t from)
{
    for (std::size_t b = from; b < IMAGE_SIZE; ++b)
        ASSERT_EQ(image[b], 0) << "byte " << b << " (" << field_at(b) << ")";
}

std::string updating(unsigned version) { return "Updating NVRAM version to " + std::to_string(version) + ".\n"; }

} // namespace

TEST(MigrationChain, VersionsWithoutAStepAreLeftAlone)
{
    for (unsigned version : {0u, 17u, 41u, 255u}) {
        Bytes image = image_at(version, 0x5A), before = image;
        EXPECT_EQ(migrate(image), MigrationLog{"NVRAM DEBUG: New version(" + std::to_string(version) +
                                               ") not same as LE_CURRENT_VERSION(40)\n"});
        EXPECT_EQ(image, before);
    }
}

// ---- The two rebuilding steps -------------------------------------------

TEST(StepTo19, ClearsOnlyTheSpansThatTheNextStepDrops)
{
    Bytes image = image_at(18, 0x77), want = image;
    for (Field f : {V19("clearedAt19Signatures1"), V19("clearedAt19MlnInfo"), V19("clearedAt19Signatures2")})
        std::memset(want.data() + f.offset, 0, f.width());
    want[F("version").offset] = 19;
    EXPECT_EQ(step(image), MigrationLog{updating(19)});
    EXPECT_EQ(image, want);
}

// Rebuilding fills every field anew: nothing of the old record survives
// outside the mapped fields, and texts without a terminator are cut.
TEST(RebuildingSteps, OnlyMappedBytesComeThrough)
{
    Bytes image = image_at(19, 0xEE);
    step(image);
    EXPECT_EQ(text(image, V20("enclosureName")), std::string(32, '\xEE'));
    EXPECT_EQ(get_u(image.data(), V20("mlnInfo")), 0u);  // beyond the old record
    expect_zero_from(image, V20("groupKd").end());

    image = image_at(26, 0xEE);
    step(image);
    expect_zero_from(image, F("fwManagementEnabled").offset);
}

TEST(StepTo27, RatedCircuitIsFourFifthsOfTheCap)
{
    struct Case {
        std::int32_t cap, rated;
    };
    for (Case c : {Case{1000, 800}, Case{1, 1}, Case{3, 2}, Case{-5, -3}, Case{0, 0}, Case{INT32_MAX, 1717986918},
                   Case{INT32_MIN, -1717986917}}) {
        Bytes image = image_at(26);
        set_i(image.data(), V20("groupCap"), c.cap);
        step(image);
        EXPECT_EQ(get_i(image.data(), F("groupDeratedCircuit")), c.cap);
        EXPECT_EQ(get_i(image.data(), F("groupRatedCircuit")), c.rated) << "cap " << c.cap;
    }
}

// ---- In-place steps -----------------------------------------------------

TEST(StepsTo22And23, SecondBayMasksRepeatTheLowHalf)
{
    Bytes image = image_at(21);
    set_u(image.data(), V20("userCount"), 1);
    set_u(record(image.data(), V20("userRecords"), 0), UserStd("userBayMask1"), 0xFFFF1234);
    set_u(record(image.data(), V20("userRecords"), 30), UserStd("userBayMask1"), 0x0001ABCD);
    set_u(record(image.data(), V20("ldapGroupRecords"), 4), Group("ldapGroupBayMask1"), 0x00020003);
    step(image);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 0), 0x12341234u);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 30), 0xABCDABCDu);  // whatever the count
    EXPECT_EQ(get_u(image.data(), V20("ldapGroupBayMask2"), 4), 0x00030003u);

    set_u(record(image.data(), V20("userRecords"), 1), UserStd("userBayMask1"), 0x00000042);
    step(image);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 1), 0x00420042u);
}

TEST(StepTo21, CommunitiesBecomePublicAndKeepTheRestOfTheirSlot)
{
    Bytes image = image_at(20, 0x41);
    step(image);
    const std::uint8_t *slot = image.data() + V20("trapCommunities").at(3);
    EXPECT_EQ(std::memcmp(slot, "public", 7), 0);
    EXPECT_EQ(slot[7], 0x41);
}

TEST(SessionTimeout, OnlyTheOldDefaultIsReset)
{
    struct Case {
        unsigned version;
        std::int32_t before, after;
    };
    // From 24, the step to 25 gives 1440 and the step to 26 clears it.
    for (Case c : {Case{25, 1440, 0}, Case{25, 1441, 1441}, Case{24, 77, 0}}) {
        Bytes image = image_at(c.version);
        set_i(image.data(), V20("sessionTimeout"), c.before);
        migrate(image);
        EXPECT_EQ(get_i(image.data(), F("sessionTimeout")), c.after) << c.version << "/" << c.before;
    }
}

TEST(StepTo29, LastReportStatusFollowsTheLastAttempt)
{
    struct Case {
        std::uint32_t attempt;
        unsigned status, want;
    };
    for (Case c : {Case{0, 7, 7}, Case{1, 7, 5}, Case{1, 0, 4}, Case{0x80000000u, 7, 7}, Case{0x7FFFFFFF, 0, 4}}) {
        Bytes image = image_at(28);
        set_u(image.data(), F("urbLastAttempt"), c.attempt);
        set_u(image.data(), F("urbLastStatus"), c.status);
        step(image);
        EXPECT_EQ(get_u(image.data(), F("urbLastStatus")), c.want) << c.attempt << "/" << c.status;
    }
}

TEST(StepTo29, EmptySyslocationBecomesTwoQuotes)
{
    Bytes image = image_at(28);
    // Stale bytes behind an empty text must not join the quotes.
    std::memcpy(image.data() + F("syslocation").offset, "\0xyz", 4);
    set_text(image.data(), F("syscontact"), "Ops team");
    step(image);
    EXPECT_EQ(text(image, F("syslocation")), "\"\"");
    EXPECT_EQ(text(image, F("syscontact")), "Ops team");
}

TEST(FeatureBits, FromAllSetTo0xC4)
{
    Bytes image = image_at(33);
    set_u(image.data(), F("featureBits"), 0xFF);
    for (unsigned expected : {0x4Fu, 0xCFu, 0xC7u, 0xC7u, 0xC7u, 0xC4u, 0xC4u}) {
        step(image);
        EXPECT_EQ(get_u(image.data(), F("featureBits")), expected) << "at version " << int(image[3]);
    }
}

// ---- FIPS user table ----------------------------------------------------

namespace {

Bytes image_with_users(unsigned count)
{
    Bytes image = image_at(37);
    set_u(image.data(), F("userCount"), count);
    for (unsigned i = 0; i < F("userRecords").count; ++i) {
        std::uint8_t *r = record(image.data(), F("userRecords"), i);
        set_text(r, UserStd("userName"), "user" + std::to_string(i));
        set_text(r, UserStd("userGecos"), "Comment for user number " + std::to_string(i));
        set_text(r, UserStd("userPasswordHash"), "$1$abcdefgh$0123456789abcde" + std::to_string(i % 10));
        set_u(r, UserStd("userId"), 1000 + i);
        set_u(r, UserStd("userPrivilege"), i % 4);
        set_u(r, UserStd("userBayMask1"), 0xA0000000u + i);
    }
    return image;
}

void expect_fips_users(const Bytes &image, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        const std::uint8_t *r = record(image.data(), F("userRecordsFips"), i);
        EXPECT_EQ(get_text(r, UserFips("userName")), "user" + std::to_string(i));
        EXPECT_EQ(get_text(r, UserFips("userGecos")), "Comment for user number " + std::to_string(i));
        EXPECT_EQ(get_text(r, UserFips("userPasswordHashFips")), "$1$abcdefgh$0123456789abcde" + std::to_string(i % 10));
        EXPECT_EQ(get_u(r, UserFips("userIdFips")), 1000 + i);
        EXPECT_EQ(get_u(r, UserFips("userPrivilegeFips")), i % 4);
        EXPECT_EQ(get_u(r, UserFips("userBayMask1Fips")), 0xA0000000u + i);
    }
}

} // namespace

TEST(FipsUserTable, TwentyFiveUsersKeepTheFirstTwentyOne)
{
    Bytes image = image_with_users(25);
    EXPECT_EQ(step(image, fips), (MigrationLog{updating(38), "Retaining 21 users from 25 users\n"}));
    EXPECT_EQ(get_u(image.data(), F("userCount")), 21u);
    expect_fips_users(image, 21);
}

TEST(FipsUserTable, ThreeUsersFillThreeSlotsAndLeaveTheRest)
{
    Bytes image = image_with_users(3), before = image;
    EXPECT_EQ(step(image, fips), MigrationLog{updating(38)});
    expect_fips_users(image, 3);
    // Bytes between the hash and the id of a slot are not written.
    std::size_t gap = F("userRecordsFips").at(2) + UserStd("userPasswordHash").end();
    EXPECT_EQ(image[gap], before[gap]);
    for (std::size_t b = F("userRecordsFips").at(3); b < F("userRecords").end(); ++b)
        ASSERT_EQ(image[b], before[b]) << "byte " << b;
}

TEST(FipsUserTable, NotInFipsModeOrWithoutUsersTheTableStays)
{
    for (auto [count, mode] : {std::pair{25u, &no_fips}, std::pair{0u, &fips}}) {
        Bytes image = image_with_users(count), before = image;
        EXPECT_EQ(step(image, mode), MigrationLog{updating(38)});
        before[F("version").offset] = 38;
        EXPECT_EQ(image, before);
    }
}

// ---- Whole migrations ---------------------------------------------------

TEST(WholeChain, Version18And19ArriveAsTheHandBuiltImage)
{
    const Bytes want = fixture("migrate_v18_expected.txt");
    for (unsigned version : {18u, 19u}) {
        Bytes image = fixture("migrate_v18_input.txt");
        image[F("version").offset] = static_cast<std::uint8_t>(version);
        MigrationLog log;
        for (unsigned v = version + 1; v <= 40; ++v)
            log.push_back(updating(v));
        EXPECT_EQ(migrate(image), log);
        SCOPED_TRACE(version);
        expect_same_image(image, want);
    }
}
// What each step of 20 to 25 changes in migrate_v26_expected.txt when the
// chain starts below 26 with the same input.
const std::pair<unsigned, const char *> kEarlierEntries[] = {
    {25, "sessionTimeout 0"},
    {24, R"(groupCapBays 0; groupCap 0; guiLoginDetailFlag 1; groupInterval 0; groupKi 0; groupMaxKi 0
            groupKp 0; groupKd 0; groupDeratedCircuit 0; groupRatedCircuit 0)"},
    {23, R"(llfFlag 0; llfInterval 60; nicForcedFlag 0; nicSpeed 100; nicDuplex 1; strictPasswordsEnabled 0
            minPasswordLength 0; syslogServerAddress ""; syslogServerPort 514; remoteLogEnabled 0; ipswapFlag 0
            ipswapConfiguredRole 0; ipswapMidplaneSerialNo ""; ipswapZelmarBuddySerialNo ""; powerdelayStatus 0
            interconnectDelays[*] 0; serverDelays[*] 0)"},
    {22, "userBayMask2[*] 0x10001*i; ldapGroupBayMask2[*] 0x10001*i; bladeSignatures2[*] 0"},
    {21, "usbMode 0"},
    {20, R"(twofactor 0; crl 0; subjectAltName 0; trapCommunities[*] "public")"},
};

TEST(WholeChain, Versions20To26ArriveAsTheHandBuiltImage)
{
    Bytes want = fixture("migrate_v26_expected.txt");
    for (unsigned version = 26; version >= 20; --version) {
        for (const auto &[from, changes] : kEarlierEntries)
            if (from == version)
                patch_image(want, changes);
        Bytes image = fixture("migrate_v26_input.txt");
        image[F("version").offset] = static_cast<std::uint8_t>(version);
        EXPECT_EQ(migrate(image).size(), 40u - version);
        SCOPED_TRACE(version);
        expect_same_image(image, want);
    }
}

// What each step from 27 to 39 changes in migrate_v26_expected.txt patched
// with migrate_v26_later_fields.txt.
const std::pair<unsigned, const char *> kLaterSteps[] = {
    {27, R"(updatePolicy 0; fwManagementEnabled 0; isoUrl ""; manualPolicyFrontBays1 0xFFFFFFFF
            serverBaysInProgress1 0; updateDate 0; manualPolicyFrontBays0 0xFFFFFFFF; manualPolicyIoBays 0
            manualPolicyMisc 0; dvdStatus 0; serverBaysInProgress0 0)"},
    {28, R"(urbSmtpServer ""; urbEmailAddress ""; urbLastStatus 4; syslocation """")"},
    {29, "solutionsID fill:00"},
    {30, R"(efmLocked 1; updatePolicy 0; powerPolicy 0; forceDowngrade 0; fwManagementEnabled 0; isoUrl ""
            vigilSystem 1; serverBaysInProgress1 0; updateDate 0; manualPolicyFrontBays0 0
            manualPolicyFrontBays1 0; dvdStatus 0; serverBaysInProgress0 0)"},
    {31, "efmLocked 0; baudRate 9600; bannerEnabled 0"},
    {32, "KAT_error_reboot_counter 0; lcdForceNewPinCode 0; KAT_error_reboot 0; KAT_error_reboot_time 0"},
    {33, R"(senderEmail ""; senderName ""; directoryServerGCPort 0; tcpTimeout 10)"},
    {35, "ipv6StaticDefaultGateway fill:00"},
    {36, "ipv6StaticRouteDestination[*] fill:00; ipv6StaticRouteGateway[*] fill:00; ipv6Flags 0xF9"},
    {38, R"(serviceAccount ""; serviceAccountPassword ""; serviceAccountFlag 0)"},
    {39, "SSLSessionCacheTimeout 5"},
};

// The feature bits after the chain, by entry version, from 0xFF.
unsigned feature_bits_after(unsigned entry)
{
    if (entry <= 33)
        return 0xC4;
    if (entry <= 35)
        return 0xF4;
    return entry <= 38 ? 0xFC : 0xFF;
}

TEST(WholeChain, Versions27To39KeepWhatNoLaterStepChanges)
{
    Bytes input = fixture("migrate_v26_expected.txt");
    patch_image_file(input, std::string(CFG_SOURCE_DIR) + "/tests/fixtures/migrate_v26_later_fields.txt");
    for (unsigned entry = 27; entry <= 39; ++entry) {
        Bytes image = input, want = input;
        image[F("version").offset] = static_cast<std::uint8_t>(entry);
        for (const auto &[from, changes] : kLaterSteps)
            if (from >= entry)
                patch_image(want, changes);
        set_u(want.data(), F("featureBits"), feature_bits_after(entry));
        EXPECT_EQ(migrate(image).size(), 40u - entry);
        SCOPED_TRACE(entry);
        expect_same_image(image, want);
    }
}
