// cfgimage's pure parts: field names, values in both directions, the image
// health, the show document, the rendered files and the command line.
#include "settings/layout.h"
#include "settings/layouts_old.h"
#include "tools/cfgimage/commands.h"
#include "tools/cfgimage/fields.h"
#include "tools/cfgimage/image_file.h"
#include "tools/cfgimage/render.h"
#include "tools/cfgimage/show.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

using namespace cfgimage;
using settings::F;

namespace {

SettingsImage current_image()
{
    SettingsImage image{};
    std::memcpy(image.data(), "ZRN", 3);
    settings::set_u(image.data(), F("version"), settings::CURRENT_VERSION);
    return image;
}

Place place(const SettingsImage &image, const std::string &name, bool fips = false)
{
    auto parsed = parse_field_name(name);
    EXPECT_TRUE(parsed) << name;
    auto r = resolve(*parsed, image.data(), fips);
    if (auto *error = std::get_if<std::string>(&r))
        ADD_FAILURE() << *error;
    return std::get<Place>(r);
}

std::string resolve_error(const SettingsImage &image, const std::string &name)
{
    auto r = resolve(*parse_field_name(name), image.data(), false);
    auto *error = std::get_if<std::string>(&r);
    return error ? *error : "";
}

RawImage encoded(SettingsImage image)
{
    RawImage raw{};
    encode_image(image.data(), raw.data());
    return raw;
}

} // namespace

TEST(CfgimageFields, EveryTypeRoundTripsThroughItsText)
{
    struct Case {
        const char *name, *given, *shown;
    };
    const Case cases[] = {
        {"enclosureName", "Rack 7: east", "Rack 7: east"},  // text
        {"lcdPin", "123456", "123456"},                     // text filling its width
        {"dhcpFlag", "255", "255"},                          // u8
        {"tcpTimeout", "0xFFFF", "65535"},                   // u16, given in hexadecimal
        {"nicSpeed", "-32768", "-32768"},                    // i16
        {"ntpPoll", "-1", "-1"},                             // i32
        {"urbLastAttempt", "4294967295", "4294967295"},      // u32
        {"manualPolicyFrontBays0", "65535", "0xFFFF"},       // mask shown in hexadecimal
        {"featureBits", "0x81", "0x81"},                     // flag byte
        {"ipAddress", "192.0.2.10", "192.0.2.10"},           // IPv4
        {"ipv6StaticDefaultGateway", "fe80::1:2", "fe80:0000:0000:0000:0000:0000:0001:0002"},
        {"ipv6StaticRouteGateway[2]", "::", "0000:0000:0000:0000:0000:0000:0000:0000"},
        {"solutionsID", "00ff10", "00ff100000000000"},       // bytes, zero filled
        {"trapReceivers[7]", "host.example", "host.example"},
        {"bladeSignatures2[31]", "0xDEADBEEF", "0xDEADBEEF"},
        {"ipv6DhcpEnabled", "1", "1"},                       // bit
        {"userName[30]", "operator", "operator"},            // user record field
        {"userBayMask1[3]", "0x10", "0x10"},
        {"ldapGroupId[4]", "60000", "60000"},                // directory group record field
    };
    for (const Case &c : cases) {
        SettingsImage image = current_image();
        Place p = place(image, c.name);
        ASSERT_EQ(assign(image.data(), p, c.given), std::nullopt) << c.name;
        EXPECT_EQ(format_place(image.data(), p), c.shown) << c.name;
        // What is shown can be given back unchanged.
        SettingsImage again = image;
        ASSERT_EQ(assign(again.data(), p, format_place(image.data(), p)), std::nullopt) << c.name;
        EXPECT_EQ(again, image) << c.name;
    }
}

TEST(CfgimageFields, RefusalsNameTheFieldAndLeaveTheImage)
{
    struct Case {
        const char *name, *value, *message;
    };
    const Case cases[] = {
        {"lcdPin", "1234567", "lcdPin: at most 6 characters"},
        {"dhcpFlag", "256", "dhcpFlag: a number from 0 to 255"},
        {"dhcpFlag", "-1", "dhcpFlag: a number from 0 to 255"},
        {"nicSpeed", "32768", "nicSpeed: a number from -32768 to 32767"},
        {"ntpPoll", "2147483648", "ntpPoll: a number from -2147483648 to 2147483647"},
        {"userId[2]", "65536", "userId[2]: a number from 0 to 65535"},
        {"baudRate", "96OO", "baudRate: a number from"},
        {"baudRate", "", "baudRate: a number from"},
        {"ipAddress", "10.0.0", "ipAddress: an IPv4 address"},
        {"ipAddress", "10.0.0.256", "ipAddress: an IPv4 address"},
        {"ipv6StaticDefaultGateway", "fe80:::1", "ipv6StaticDefaultGateway: an IPv6 address"},
        {"solutionsID", "abc", "solutionsID: at most 8 bytes"},
        {"solutionsID", "zz", "solutionsID: at most 8 bytes"},
        {"solutionsID", "000000000000000000", "solutionsID: at most 8 bytes"},
        {"ipv6Enabled", "2", "ipv6Enabled: 0 or 1"},
    };
    for (const Case &c : cases) {
        SettingsImage image = current_image();
        settings::set_text(image.data(), F("lcdPin"), "999999");
        const SettingsImage before = image;
        auto error = assign(image.data(), place(image, c.name), c.value);
        ASSERT_TRUE(error) << c.name << "=" << c.value;
        EXPECT_EQ(error->rfind(c.message, 0), 0u) << *error;
        EXPECT_EQ(image, before) << c.name;
    }
}

TEST(CfgimageFields, NamesAreResolvedOrRefused)
{
    SettingsImage image = current_image();
    for (auto [name, error] : {std::pair{"noSuchField", "no such field"}, {"trapReceivers", "takes an index from 0 to 7"},
                               {"trapReceivers[8]", "takes an index from 0 to 7"},
                               {"userName", "takes an index from 0 to 30"},
                               {"ldapGroupName[5]", "takes an index from 0 to 4"}})
        EXPECT_EQ(resolve_error(image, name), std::string(name) + ": " + error);
    EXPECT_NE(resolve_error(image, "userRecords[0]"), "");
    EXPECT_NE(resolve_error(image, "ipv6Enabled[0]"), "");
    for (const char *bad : {"", "[1]", "name[", "name[x]", "name[1]x", "name[-1]"})
        EXPECT_FALSE(parse_field_name(bad)) << bad;
}

TEST(CfgimageFields, UserNamesFollowTheTableLayoutInUse)
{
    SettingsImage image = current_image();
    const auto &std_users = settings::user_layout(false);
    const auto &fips_users = settings::user_layout(true);
    EXPECT_EQ(place(image, "userName[2]").base, std_users.records.at(2));
    EXPECT_EQ(place(image, "userName[2]", true).base, fips_users.records.at(2));
    // A FIPS administrator hash means the table was written in the FIPS layout.
    settings::set_text(settings::record(image.data(), fips_users.records, 0), fips_users.hash, "$5$salt$hash");
    EXPECT_EQ(place(image, "userGecos[2]").base, fips_users.records.at(2));
    // Names only one layout has stay in that layout.
    EXPECT_EQ(place(image, "userId[1]").base, std_users.records.at(1));
    EXPECT_EQ(place(image, "userIdFips[1]").base, fips_users.records.at(1));
}

// Each status from the command line is pinned end to end; here the counts.
TEST(CfgimageHealth, CorrectedAndUncorrectableCodewordsAreCounted)
{
    SettingsImage good = current_image();
    RawImage raw = encoded(good);
    raw[3] ^= 0x40;
    raw[255 * 48 + 250] ^= 0x01;
    Decoded corrected = decode_all(raw);
    EXPECT_EQ(corrected.corrected_total, 2);
    EXPECT_EQ(corrected.image, good);
    for (int i = 0; i < 17; ++i)
        raw[255 * 7 + i] ^= 0xA5;
    EXPECT_EQ(decode_all(raw).uncorrectable, std::vector<int>{7});
}

TEST(CfgimageShow, ValuesSecretsAndTables)
{
    SettingsImage image = current_image();
    const auto &users = settings::user_layout(false);
    settings::set_u(image.data(), F("userCount"), 40);  // more than the table holds
    settings::set_text(settings::record(image.data(), users.records, 0), users.name, "Administrator");
    settings::set_text(settings::record(image.data(), users.records, 0), users.hash, "$1$ab$secret");
    settings::set_u(image.data(), F("baudRate"), 115200);
    settings::set_u(image.data(), F("groupCapBays"), 0x30);
    settings::set_text(image.data(), F("serviceAccountPassword"), "pw");
    Decoded d = decode_all(encoded(image));

    auto doc = show_document(d, {});
    EXPECT_EQ(doc["version"], 40);
    EXPECT_EQ(doc["userLayout"], "standard");
    EXPECT_EQ(doc["fields"]["baudRate"], 115200);
    EXPECT_EQ(doc["fields"]["groupCapBays"], "0x30");
    EXPECT_TRUE(doc["fields"]["serviceAccountPassword"].is_null());
    EXPECT_EQ(doc["fields"]["userRecords"].size(), users.records.count);
    EXPECT_EQ(doc["fields"]["userRecords"][0]["userName"], "Administrator");
    EXPECT_TRUE(doc["fields"]["userRecords"][0]["userPasswordHash"].is_null());
    EXPECT_FALSE(doc["fields"].contains("userRecordsFips"));
    EXPECT_EQ(doc["fields"]["trapReceivers"].size(), 8u);
    EXPECT_EQ(doc["bits"]["ipv6Enabled"], 0);
    std::string text = show_text(doc);
    EXPECT_NE(text.find("(hidden)"), std::string::npos);
    EXPECT_EQ(text.find("$1$ab$secret"), std::string::npos);

    auto open = show_document(d, {true, false});
    EXPECT_EQ(open["fields"]["userRecords"][0]["userPasswordHash"], "$1$ab$secret");
    EXPECT_EQ(open["fields"]["serviceAccountPassword"], "pw");
    EXPECT_NE(show_text(open).find("$1$ab$secret"), std::string::npos);
}

TEST(CfgimageShow, OlderVersionsUseTheirOwnTables)
{
    SettingsImage image = current_image();
    settings::set_u(image.data(), F("version"), 20);
    std::uint8_t receiver[4] = {10, 1, 2, 3};
    std::memcpy(image.data() + settings::V20("trapReceivers").at(1), receiver, 4);
    auto v20 = show_document(decode_all(encoded(image)), {});
    EXPECT_EQ(v20["fields"]["trapReceivers"][1], "10.1.2.3");
    EXPECT_FALSE(v20.contains("userLayout"));
    EXPECT_FALSE(v20["fields"].contains("ipv6Flags"));

    settings::set_u(image.data(), F("version"), 19);
    auto v19 = show_document(decode_all(encoded(image)), {});
    EXPECT_TRUE(v19["fields"].contains("clearedAt19MlnInfo"));
    EXPECT_FALSE(v19["fields"].contains("mlnInfo"));  // lies beyond the image

    settings::set_u(image.data(), F("version"), 33);
    auto v33 = show_document(decode_all(encoded(image)), {});
    EXPECT_FALSE(v33.contains("fields"));
    EXPECT_EQ(v33["note"], "no field table describes version 33");
    EXPECT_NE(show_text(v33).find("note: no field table"), std::string::npos);
}

TEST(CfgimageShow, UnprintableTextIsEscaped)
{
    EXPECT_EQ(printable("a\\b\nc\x7f\xc3"), "a\\\\b\\x0ac\\x7f\\xc3");
}

TEST(CfgimageRender, GroupFileSeesThePinnedAdministrator)
{
    SettingsImage image = current_image();
    const auto &users = settings::user_layout(false);
    settings::set_u(image.data(), F("userCount"), 1);
    std::uint8_t *admin = settings::record(image.data(), users.records, 0);
    settings::set_text(admin, users.name, "Administrator");
    settings::set_u(admin, users.privilege, 3);
    settings::set_u(admin, users.id, 7);
    const SettingsImage before = image;
    std::map<std::string, std::string> files;
    for (const RenderedFile &f : render_files(image.data(), {}))
        files[f.path] = f.text;
    EXPECT_EQ(image, before);  // each file works on its own copy
    EXPECT_NE(files["/etc/group"].find("admin::0:Administrator,"), std::string::npos) << files["/etc/group"];
    EXPECT_NE(files["/etc/bayconf"].find("7="), std::string::npos) << files["/etc/bayconf"];  // the stored id, unpinned
}

TEST(CfgimageRender, KeptPasswordsComeFromThePasswdFile)
{
    std::filesystem::path file = std::filesystem::temp_directory_path() / ("cfgimage_test." + std::to_string(getpid()));
    EXPECT_FALSE(kept_passwords_from(file.string()).mlnuser);
    std::ofstream(file) << " mlnuser_:forged:100:0::/:/bin/false\nkstuser_:wrong-uid:5:2::/:/bin/false\n"
                        << "root:x:0:0::/:/bin/sh\nmlnuser_:$1$kept$m:100:0::/:/bin/false\n"
                        << "kstuser_::101:2::/:/bin/false\nmlnuser_:second:100:0::/:/bin/false\n";
    KeptPasswords kept = kept_passwords_from(file.string());
    EXPECT_EQ(kept.mlnuser, "$1$kept$m");  // the first genuine entry counts
    EXPECT_EQ(kept.kstuser, "");
    std::filesystem::remove(file);
}

TEST(CfgimageCommandLine, OptionsAndArguments)
{
    auto ok = parse_command_line({"set", "--force", "img", "a=1", "--", "--odd=2"});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(ok));
    const CommandLine &line = std::get<CommandLine>(ok);
    EXPECT_TRUE(line.force);
    EXPECT_EQ(line.args, (std::vector<std::string>{"img", "a=1", "--odd=2"}));

    auto values = parse_command_line({"new", "--serial", "S1", "--part=P2", "img"});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(values));
    EXPECT_EQ(std::get<CommandLine>(values).serial, "S1");
    EXPECT_EQ(std::get<CommandLine>(values).part, "P2");

    const std::vector<std::vector<std::string>> refused = {
        {}, {"frobnicate"}, {"show", "--force"}, {"check", "--json"}, {"show", "a", "b"}, {"get", "img"},
        {"render", "img"}, {"new", "img", "--serial"}, {"show", "--json=1"}, {"new", "--serials=1", "img"}};
    for (const auto &argv : refused)
        EXPECT_TRUE(std::holds_alternative<std::string>(parse_command_line(argv))) << ::testing::PrintToString(argv);
}
