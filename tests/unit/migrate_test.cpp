// Settings migration in process: single steps, the chain, and whole
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

MigrationLog migrate(Bytes &image, FipsQuery fips_mode = no_fips) { return migrate_image(view(image), fips_mode); }

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

bool all_zero(const Bytes &image, Field f)
{
    for (std::size_t b = f.offset; b < f.end(); ++b)
        if (image[b] != 0)
            return false;
    return true;
}

std::string updating(unsigned version) { return "Updating NVRAM version to " + std::to_string(version) + ".\n"; }

} // namespace

// ---- The chain ----------------------------------------------------------

TEST(MigrationChain, Version39TakesOnlyTheLastStep)
{
    Bytes image = image_at(39);
    EXPECT_EQ(migrate(image), MigrationLog{updating(40)});
    EXPECT_EQ(image[F("version").offset], 40);
    EXPECT_EQ(get_i(image.data(), F("SSLSessionCacheTimeout")), 5);
}

TEST(MigrationChain, Version18PassesEveryStepOnceInOrder)
{
    Bytes image = image_at(18);
    MigrationLog want;
    for (unsigned v = 19; v <= 40; ++v)
        want.push_back(updating(v));
    EXPECT_EQ(migrate(image), want);
    EXPECT_EQ(image[F("version").offset], 40);
}

TEST(MigrationChain, VersionsWithoutAStepAreLeftAlone)
{
    for (unsigned version : {0u, 17u, 41u, 255u}) {
        Bytes image = image_at(version, 0x5A), before = image;
        EXPECT_EQ(migrate(image), MigrationLog{"NVRAM DEBUG: New version(" + std::to_string(version) +
                                               ") not same as LE_CURRENT_VERSION(40)\n"});
        EXPECT_EQ(image, before);
        MigrationLog log;
        EXPECT_FALSE(migrate_one_step(view(image), no_fips, log));
    }
}

// ---- Version-19 record --------------------------------------------------

TEST(StepTo19, ClearsOnlyTheSpansThatTheNextStepDrops)
{
    Bytes image = image_at(18, 0x77), want = image;
    for (Field f : {V19("clearedAt19Signatures1"), V19("clearedAt19MlnInfo"), V19("clearedAt19Signatures2")})
        std::memset(want.data() + f.offset, 0, f.width());
    want[F("version").offset] = 19;
    EXPECT_EQ(step(image), MigrationLog{updating(19)});
    EXPECT_EQ(image, want);
}

TEST(StepTo20, TextsKeepATerminatorAndEverythingUnmappedIsZero)
{
    Bytes image = image_at(19, 0xEE);  // no terminator anywhere
    step(image);
    EXPECT_EQ(std::memcmp(image.data(), "ZRN", 3), 0);
    EXPECT_EQ(image[F("version").offset], 20);
    EXPECT_EQ(text(image, V20("enclosureName")), std::string(32, '\xEE'));
    EXPECT_EQ(text(image, V20("TZ")), std::string(39, '\xEE'));
    const std::uint8_t *user30 = record(image.data(), V20("userRecords"), 30);
    EXPECT_EQ(get_text(user30, UserStd("userName")).size(), 13u);
    EXPECT_EQ(get_text(user30, UserStd("userGecos")).size(), 43u);
    EXPECT_EQ(get_text(user30, UserStd("userPasswordHash")).size(), 14u);
    EXPECT_EQ(get_text(image.data(), V20("presetHashes"), 7).size(), 14u);
    EXPECT_EQ(get_i(image.data(), V20("ntpPoll")), static_cast<std::int16_t>(0xEEEE));
    for (unsigned k = 0; k < V20("ipAllow").count; ++k)
        EXPECT_EQ(image[V20("ipAllow").at(k) + 4], 0) << "prefix of entry " << k;
    // The old record's tail lies beyond the image: those fields are empty.
    EXPECT_TRUE(all_zero(image, V20("lcdUserNotes")));
    EXPECT_TRUE(all_zero(image, V20("mlnInfo")));
    EXPECT_TRUE(all_zero(image, V20("bladeSignatures1")));
    EXPECT_EQ(text(image, V20("configMD5")), std::string(32, '1'));
    for (std::size_t b = V20("groupKd").end(); b < IMAGE_SIZE; ++b)
        ASSERT_EQ(image[b], 0) << "byte " << b;
}

// ---- Version-20 layout --------------------------------------------------

TEST(StepTo21, CommunitiesBecomePublicAndKeepTheRestOfTheirSlot)
{
    Bytes image = image_at(20, 0x41);
    step(image);
    for (unsigned k = 0; k < V20("trapCommunities").count; ++k) {
        const std::uint8_t *slot = image.data() + V20("trapCommunities").at(k);
        EXPECT_EQ(std::memcmp(slot, "public", 7), 0);
        EXPECT_EQ(slot[7], 0x41);
        EXPECT_EQ(slot[20], 0x41);
    }
    EXPECT_EQ(get_u(image.data(), V20("twofactor")), 0u);
    EXPECT_EQ(get_u(image.data(), V20("crl")), 0u);
    EXPECT_EQ(get_u(image.data(), V20("subjectAltName")), 0u);
}

TEST(StepsTo22And23, SecondBayMasksRepeatTheLowHalfInEverySlot)
{
    Bytes image = image_at(21);
    set_u(image.data(), V20("userCount"), 1);
    set_u(image.data(), V20("ldapGroupCount"), 0);
    set_u(record(image.data(), V20("userRecords"), 0), UserStd("userBayMask1"), 0xFFFF1234);
    set_u(record(image.data(), V20("userRecords"), 30), UserStd("userBayMask1"), 0x0001ABCD);
    set_u(record(image.data(), V20("ldapGroupRecords"), 4), Group("ldapGroupBayMask1"), 0x00020003);
    set_u(image.data(), V20("bladeSignatures2"), 0xDEADBEEF, 31);
    step(image);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 0), 0x12341234u);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 30), 0xABCDABCDu);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 1), 0u);
    EXPECT_EQ(get_u(image.data(), V20("ldapGroupBayMask2"), 4), 0x00030003u);
    EXPECT_EQ(get_u(image.data(), V20("bladeSignatures2"), 31), 0xDEADBEEFu);

    set_u(record(image.data(), V20("userRecords"), 1), UserStd("userBayMask1"), 0x00000042);
    step(image);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 1), 0x00420042u);
    EXPECT_EQ(get_u(image.data(), V20("userBayMask2"), 30), 0xABCDABCDu);
    EXPECT_TRUE(all_zero(image, V20("bladeSignatures2")));
}

TEST(StepTo24, SetsTheNewMagicAndTheInitialValues)
{
    Bytes image = image_at(23, 0x99);
    std::memcpy(image.data(), "ZRN", 3);
    step(image);
    EXPECT_EQ(std::memcmp(image.data(), "002", 3), 0);
    EXPECT_EQ(get_i(image.data(), V20("llfInterval")), 60);
    EXPECT_EQ(get_i(image.data(), V20("nicSpeed")), 100);
    EXPECT_EQ(get_u(image.data(), V20("nicDuplex")), 1u);
    EXPECT_EQ(get_i(image.data(), V20("syslogServerPort")), 514);
    EXPECT_TRUE(all_zero(image, V20("syslogServerAddress")));
    EXPECT_TRUE(all_zero(image, V20("ipswapZelmarBuddySerialNo")));
    EXPECT_TRUE(all_zero(image, V20("serverDelays")));
    EXPECT_EQ(image[V20("sessionTimeout").offset], 0x99);  // the next step's field
}

TEST(SessionTimeout, OnlyTheOldDefaultIsReset)
{
    Bytes image = image_at(25);
    set_i(image.data(), V20("sessionTimeout"), 1440);
    step(image);
    EXPECT_EQ(get_i(image.data(), V20("sessionTimeout")), 0);

    image = image_at(25);
    set_i(image.data(), V20("sessionTimeout"), 1441);
    migrate(image);
    EXPECT_EQ(get_i(image.data(), F("sessionTimeout")), 1441);

    image = image_at(24);  // the step to 25 gives 1440, the step to 26 clears it
    set_i(image.data(), V20("sessionTimeout"), 77);
    migrate(image);
    EXPECT_EQ(get_i(image.data(), F("sessionTimeout")), 0);
}

// ---- Step to 27 ---------------------------------------------------------

TEST(StepTo27, AddressesBecomeText)
{
    Bytes image = image_at(26);
    const std::uint8_t zero_first[] = {0, 0, 0, 5}, ten[] = {10, 0, 0, 1}, mail[] = {192, 168, 1, 10};
    std::memcpy(image.data() + V20("trapReceivers").at(2), zero_first, 4);
    std::memcpy(image.data() + V20("trapReceivers").at(3), ten, 4);
    std::memcpy(image.data() + V20("emailServer").offset, mail, 4);
    step(image);
    EXPECT_EQ(text(image, F("trapReceivers"), 2), "");
    EXPECT_EQ(text(image, F("trapReceivers"), 3), "10.0.0.1");
    EXPECT_EQ(text(image, F("trapReceivers"), 0), "");
    EXPECT_EQ(text(image, F("ntpServer1")), "0.0.0.0");
    EXPECT_EQ(text(image, F("ntpServer2")), "0.0.0.0");
    EXPECT_EQ(text(image, F("emailServer")), "192.168.1.10");
}

TEST(StepTo27, AddressAllowEntryMovesToTheTailOfTheWideEntry)
{
    Bytes image = image_at(26);
    const std::uint8_t entry[] = {0xC0, 0xA8, 0x01, 0x00, 0x18};
    std::memcpy(image.data() + V20("ipAllow").at(1), entry, sizeof entry);
    step(image);
    const std::uint8_t want[17] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xA8, 0x01, 0x00, 0x18};
    EXPECT_EQ(std::memcmp(image.data() + F("ipAllow").at(1), want, sizeof want), 0);
    EXPECT_TRUE(all_zero(image, Field{"entry0", F("ipAllow").offset, 17, 1, T::Bytes}));
}

TEST(StepTo27, CircuitsFollowTheGroupCap)
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

TEST(StepTo27, FieldsThatVersion20LacksComeOutAtTheirInitialValues)
{
    Bytes image = image_at(26, 0xEE);
    step(image);
    EXPECT_TRUE(all_zero(image, F("ipv6Flags")));
    EXPECT_TRUE(all_zero(image, F("ipv6Dns2")));
    EXPECT_TRUE(all_zero(image, F("urbUrl")));
    EXPECT_TRUE(all_zero(image, F("urbProxyUrl")));
    EXPECT_EQ(get_u(image.data(), F("urbInterval")), 2u);
    EXPECT_EQ(get_u(image.data(), F("urbLastStatus")), 255u);
    for (std::size_t b = F("fwManagementEnabled").offset; b < IMAGE_SIZE; ++b)
        ASSERT_EQ(image[b], 0) << "byte " << b << " (" << field_at(b) << ")";
    // Old stale bytes after a terminator are not carried.
    EXPECT_EQ(text(image, F("trapReceivers"), 7), "238.238.238.238");
}

// ---- Current layout -----------------------------------------------------

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

TEST(StepTo29, EmptySnmpTextsBecomeTwoQuotes)
{
    Bytes image = image_at(28);
    set_text(image.data(), F("syscontact"), "Ops team");
    step(image);
    EXPECT_EQ(text(image, F("syslocation")), "\"\"");
    EXPECT_EQ(text(image, F("syscontact")), "Ops team");

    // Stale bytes behind an empty text must not join the quotes.
    image = image_at(28);
    std::memcpy(image.data() + F("syslocation").offset, "\0xyz", 4);
    step(image);
    EXPECT_EQ(text(image, F("syslocation")), "\"\"");
}

TEST(StepsTo28And31, FirmwareManagementIsReset)
{
    Bytes image = image_at(27, 0x5C);
    step(image);
    EXPECT_EQ(get_u(image.data(), F("manualPolicyFrontBays0")), 0xFFFFFFFFu);
    EXPECT_EQ(get_u(image.data(), F("manualPolicyFrontBays1")), 0xFFFFFFFFu);
    EXPECT_TRUE(all_zero(image, F("isoUrl")));

    image = image_at(30, 0x5C);
    step(image);
    EXPECT_EQ(get_u(image.data(), F("efmLocked")), 1u);
    EXPECT_EQ(get_u(image.data(), F("vigilSystem")), 1u);
    EXPECT_EQ(get_u(image.data(), F("manualPolicyFrontBays0")), 0u);
    EXPECT_EQ(get_u(image.data(), F("manualPolicyIoBays")), 0x5Cu);
    EXPECT_EQ(get_u(image.data(), F("manualPolicyMisc")), 0x5Cu);
}

TEST(FeatureBits, FromAllSetTo0xC4)
{
    Bytes image = image_at(33);
    set_u(image.data(), F("featureBits"), 0xFF);
    const unsigned want[] = {0x4F, 0xCF, 0xC7, 0xC7, 0xC7, 0xC4, 0xC4};
    for (unsigned expected : want) {
        step(image);
        EXPECT_EQ(get_u(image.data(), F("featureBits")), expected) << "at version " << int(image[3]);
    }
    EXPECT_EQ(image[F("version").offset], 40);
}

TEST(StepTo37, RouterAdvertisementTrafficIsSwitchedOn)
{
    Bytes image = image_at(36, 0x33);
    set_u(image.data(), F("ipv6Flags"), 0xF0);
    step(image);
    EXPECT_EQ(get_u(image.data(), F("ipv6Flags")), 0xF8u);
    EXPECT_TRUE(all_zero(image, F("ipv6StaticRouteDestination")));
    EXPECT_TRUE(all_zero(image, F("ipv6StaticRouteGateway")));
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
        set_u(image.data(), F("userBayMask2"), 0xB0000000u + i, i);
    }
    return image;
}

void expect_fips_user(const Bytes &image, unsigned i)
{
    const std::uint8_t *r = record(image.data(), F("userRecordsFips"), i);
    EXPECT_EQ(get_text(r, UserFips("userName")), "user" + std::to_string(i));
    EXPECT_EQ(get_text(r, UserFips("userGecos")), "Comment for user number " + std::to_string(i));
    EXPECT_EQ(get_text(r, UserFips("userPasswordHashFips")), "$1$abcdefgh$0123456789abcde" + std::to_string(i % 10));
    EXPECT_EQ(get_u(r, UserFips("userIdFips")), 1000 + i);
    EXPECT_EQ(get_u(r, UserFips("userPrivilegeFips")), i % 4);
    EXPECT_EQ(get_u(r, UserFips("userBayMask1Fips")), 0xA0000000u + i);
}

} // namespace

TEST(FipsUserTable, TwentyFiveUsersKeepTheFirstTwentyOne)
{
    Bytes image = image_with_users(25);
    EXPECT_EQ(step(image, fips), (MigrationLog{updating(38), "Retaining 21 users from 25 users\n"}));
    EXPECT_EQ(get_u(image.data(), F("userCount")), 21u);
    for (unsigned i = 0; i < 21; ++i)
        expect_fips_user(image, i);
    for (unsigned i = 0; i < F("userRecords").count; ++i)
        EXPECT_EQ(get_u(image.data(), F("userBayMask2"), i), 0xB0000000u + i);
}

TEST(FipsUserTable, ThreeUsersFillThreeSlotsAndLeaveTheRest)
{
    Bytes image = image_with_users(3), before = image;
    EXPECT_EQ(step(image, fips), MigrationLog{updating(38)});
    for (unsigned i = 0; i < 3; ++i)
        expect_fips_user(image, i);
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
        EXPECT_EQ(migrate(image).size(), 40u - version);
        SCOPED_TRACE(version);
        expect_same_image(image, want);
    }
}

// What each step of 20 to 25 changes in migrate_v26_expected.txt when the
// chain starts below 26 with the same input.
const std::pair<unsigned, const char *> kEarlierEntries[] = {
    {25, "sessionTimeout 0"},
    {24, R"(sessionTimeout 0
            groupCapBays 0
            groupCap 0
            guiLoginDetailFlag 1
            groupInterval 0
            groupKi 0
            groupMaxKi 0
            groupKp 0
            groupKd 0
            groupDeratedCircuit 0
            groupRatedCircuit 0)"},
    {23, R"(llfFlag 0
            llfInterval 60
            nicForcedFlag 0
            nicSpeed 100
            nicDuplex 1
            strictPasswordsEnabled 0
            minPasswordLength 0
            syslogServerAddress ""
            syslogServerPort 514
            remoteLogEnabled 0
            ipswapFlag 0
            ipswapConfiguredRole 0
            ipswapMidplaneSerialNo ""
            ipswapZelmarBuddySerialNo ""
            powerdelayStatus 0
            interconnectDelays[*] 0
            serverDelays[*] 0)"},
    {22, R"(userBayMask2[*] 0x10001*i
            ldapGroupBayMask2[*] 0x10001*i
            bladeSignatures2[*] 0)"},
    {21, "usbMode 0"},
    {20, R"(twofactor 0
            crl 0
            subjectAltName 0
            trapCommunities[*] "public")"},
};

TEST(WholeChain, Versions20To26ArriveAsTheHandBuiltImage)
{
    Bytes want = fixture("migrate_v26_expected.txt");
    {
        Bytes image = fixture("migrate_v26_input.txt");
        migrate(image);
        SCOPED_TRACE(26);
        expect_same_image(image, want);
    }
    for (const auto &[version, changes] : kEarlierEntries) {
        patch_image(want, changes);
        Bytes image = fixture("migrate_v26_input.txt");
        image[F("version").offset] = static_cast<std::uint8_t>(version);
        EXPECT_EQ(migrate(image).size(), 40u - version);
        SCOPED_TRACE(version);
        expect_same_image(image, want);
    }
}

// A current-layout image whose fields after the version-20 ones hold values
// of their own, and what each step from 27 to 39 changes in it.
const char kLaterFields[] = R"(
    ipv6Flags 0xF1
    ipv6StaticAddress[*] fill:61
    ipv6Dns1 fill:62
    ipv6Dns2 fill:63
    urbEnabled 1
    urbUrl "https://report.example.net"
    urbProxyUrl "http://proxy:3128"
    urbInterval 3
    urbMinute 4
    urbHour 5
    urbWeekDay 6
    urbMonthDay 7
    urbLastAttempt 1234567
    urbLastStatus 0
    groupDeratedCircuit 900
    groupRatedCircuit 720
    fwManagementEnabled 1
    updatePolicy 2
    isoUrl "http://fw.example.net/fw.iso"
    updateDate 99
    manualPolicyFrontBays0 0x11111111
    manualPolicyFrontBays1 0x22222222
    manualPolicyIoBays 0x33
    manualPolicyMisc 0x44
    dvdStatus 0x55
    serverBaysInProgress0 0x66666666
    serverBaysInProgress1 0x77777777
    urbSmtpServer "smtp.example.net"
    urbEmailAddress "urb@example.net"
    solutionsID hex:0102030405060708
    vigilSystem 0
    powerPolicy 9
    forceDowngrade 10
    efmLocked 11
    baudRate 115200
    bannerEnabled 12
    KAT_error_reboot 13
    KAT_error_reboot_counter 14
    KAT_error_reboot_time 15
    lcdForceNewPinCode 16
    senderEmail "sender@example.net"
    senderName "Enclosure"
    featureBits 0xFF
    directoryServerGCPort 3268
    tcpTimeout 5
    ipv6StaticDefaultGateway fill:64
    ipv6StaticRouteDestination[*] fill:65
    ipv6StaticRouteGateway[*] fill:66
    serviceAccount "svc"
    serviceAccountPassword "secret"
    serviceAccountFlag 1
    SSLSessionCacheTimeout 300
    syslocation ""
)";

const std::pair<unsigned, const char *> kLaterSteps[] = {
    {27, R"(updatePolicy 0
            fwManagementEnabled 0
            isoUrl ""
            manualPolicyFrontBays1 0xFFFFFFFF
            serverBaysInProgress1 0
            updateDate 0
            manualPolicyFrontBays0 0xFFFFFFFF
            manualPolicyIoBays 0
            manualPolicyMisc 0
            dvdStatus 0
            serverBaysInProgress0 0)"},
    {28, R"(urbSmtpServer ""
            urbEmailAddress ""
            urbLastStatus 4
            syslocation """")"},
    {29, "solutionsID fill:00"},
    {30, R"(efmLocked 1
            updatePolicy 0
            powerPolicy 0
            forceDowngrade 0
            fwManagementEnabled 0
            isoUrl ""
            vigilSystem 1
            serverBaysInProgress1 0
            updateDate 0
            manualPolicyFrontBays0 0
            manualPolicyFrontBays1 0
            dvdStatus 0
            serverBaysInProgress0 0)"},
    {31, R"(efmLocked 0
            baudRate 9600
            bannerEnabled 0)"},
    {32, R"(KAT_error_reboot_counter 0
            lcdForceNewPinCode 0
            KAT_error_reboot 0
            KAT_error_reboot_time 0)"},
    {33, R"(senderEmail ""
            senderName ""
            directoryServerGCPort 0
            tcpTimeout 10)"},
    {34, ""},
    {35, "ipv6StaticDefaultGateway fill:00"},
    {36, R"(ipv6StaticRouteDestination[*] fill:00
            ipv6StaticRouteGateway[*] fill:00
            ipv6Flags 0xF9)"},
    {37, ""},
    {38, R"(serviceAccount ""
            serviceAccountPassword ""
            serviceAccountFlag 0)"},
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
    patch_image(input, kLaterFields);
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
