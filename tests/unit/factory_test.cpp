// The factory-default image, field by field.
#include "settings/factory.h"
#include "settings/layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <variant>
#include <vector>

using settings::F;

namespace {

using Value = std::variant<std::uint32_t, std::string>;

struct Expect {
    settings::Field field;
    Value value;
    unsigned index = 0;
};

// Builds an image from (field, value) pairs alone, every other byte zero: what
// the defaults must equal, byte for byte.
std::vector<std::uint8_t> image_of(const std::vector<Expect> &fields)
{
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE, 0);
    for (const Expect &e : fields) {
        if (const auto *s = std::get_if<std::string>(&e.value)) {
            if (e.field.type == settings::FieldType::Bytes)
                std::memcpy(image.data() + e.field.at(e.index), s->data(), s->size());
            else
                settings::set_text(image.data(), e.field, *s, e.index);
        } else {
            settings::set_u(image.data(), e.field, std::get<std::uint32_t>(e.value), e.index);
        }
    }
    return image;
}

// The fields every factory image holds, whatever the hardware said.
std::vector<Expect> common_fields(bool fips)
{
    std::vector<Expect> f = {
        {F("magic"), std::string("002")},
        {F("version"), 40u},
        {F("rackName"), std::string("UnnamedRack")},
        {F("dhcpFlag"), 1u}, {F("dyndnsFlag"), 1u}, {F("httpFlag"), 1u}, {F("sshFlag"), 1u},
        {F("TZ"), std::string("CST6CDT")},
        {F("userCount"), 1u},
        {F("xmlReplyFlag"), 1u},
        {F("pwrRedundancyConfig"), 2u},
        {F("lcdUserNotes"), std::string("Upload up to^six lines of^text information and your^320x240 bitmap "
                                        "using the^Zelmar^web user interface")},
        {F("certsMD5"), std::string(32, '0')},
        {F("configMD5"), std::string(32, '0')},
        {F("userBayMask2"), 0xFFFFFFFFu, 0},
        {F("llfInterval"), 60u},
        {F("nicSpeed"), 100u},
        {F("nicDuplex"), 1u},
        {F("guiLoginDetailFlag"), 1u},
        {F("ipv6Flags"), 0x0Fu},
        {F("featureBits"), fips ? 0x80u : 0xC0u},
    };
    if (!fips)
        f.push_back({F("rocommunity"), std::string("public")});
    for (unsigned i = 0; i < 8; ++i)
        f.push_back({F("presetHashes"), std::string(kPresetHashes[i]), i});
    return f;
}

void add_admin(std::vector<Expect> &f, bool fips, const std::string &hash)
{
    // Record 0 sits at the start of the table in both layouts.
    const settings::UserLayout &u = settings::user_layout(fips);
    auto at = [&](settings::Field rf) {
        settings::Field abs = rf;
        abs.offset = static_cast<std::uint16_t>(u.records.offset + rf.offset);
        return abs;
    };
    f.push_back({at(u.name), std::string("Administrator")});
    f.push_back({at(u.gecos), std::string("1,System Administrator,")});
    f.push_back({at(u.hash), hash});
    f.push_back({at(u.id), 1u});
    f.push_back({at(u.privilege), 0u});
    f.push_back({at(u.bayMask1), 0xFFFFFFFFu});
}

void add_boot_dependent(std::vector<Expect> &f, bool fips, const std::string &pin)
{
    std::vector<Expect> more = {
        {F("minPasswordLength"), fips ? 8u : 3u},
        {F("strictPasswordsEnabled"), fips ? 1u : 0u},
        {F("lcdForceNewPinCode"), fips ? 1u : 0u},
        {F("lcdButtonLock"), fips ? 1u : 0u},
        {F("syslogServerPort"), 514u},
        {F("sessionTimeout"), 1440u},
        {F("SSLSessionCacheTimeout"), 5u},
        {F("tcpTimeout"), 10u},
        {F("urbInterval"), 2u},
        {F("manualPolicyFrontBays0"), 0xFFFFFFFFu},
        {F("manualPolicyFrontBays1"), 0xFFFFFFFFu},
        {F("vigilSystem"), 1u},
    };
    if (fips)
        more.push_back({F("lcdPin"), pin});
    f.insert(f.end(), more.begin(), more.end());
}

FactoryFacts full_facts(bool fips)
{
    FactoryFacts facts;
    facts.fips = fips;
    facts.identity_read = true;
    const std::uint8_t id[6] = {0x00, 0x50, 0xC2, 0xA1, 0xB2, 0xC3};
    std::memcpy(facts.unique_id, id, 6);
    facts.fru_read = true;
    facts.chassis_serial = "SN0042A7731";
    facts.chassis_part = "PN-5521-07";
    facts.admin_hash = "$5$abcdefghijklmnop$0123456789012345678901234567890123456789012";
    if (!fips)
        facts.admin_hash = "ab0123456789A";
    return facts;
}

} // namespace

TEST(FactoryDefaults, EveryByteWithBothEepromsForEachFipsMode)
{
    for (bool fips : {false, true}) {
        SCOPED_TRACE(fips ? "FIPS on" : "FIPS off");
        FactoryFacts facts = full_facts(fips);
        std::vector<std::uint8_t> image(settings::IMAGE_SIZE, 0xA5);
        compose_factory_defaults(image.data(), facts);
        compose_boot_dependent_defaults(image.data(), fips, "Q7x9Zk");

        std::vector<Expect> f = common_fields(fips);
        f.push_back({F("enclosureName"), std::string("SN0042A7731")});
        f.push_back({F("zelmarName"), std::string("ZELMAR-0050C2A1B2C3")});
        f.push_back({F("chassisSerialNumber"), std::string("SN0042A7731")});
        f.push_back({F("chassisPartNumber"), std::string("PN-5521-07")});
        add_admin(f, fips, facts.admin_hash);
        add_boot_dependent(f, fips, "Q7x9Zk");
        auto expected = image_of(f);
        for (std::size_t b = 0; b < image.size(); ++b)
            ASSERT_EQ(image[b], expected[b]) << "byte " << b;
    }
}

TEST(FactoryDefaults, WithoutEepromsTheNamesFallBack)
{
    FactoryFacts no_fru = full_facts(false);
    no_fru.fru_read = false;
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE);
    compose_factory_defaults(image.data(), no_fru);
    EXPECT_EQ(settings::get_text(image.data(), F("enclosureName")), "ZELMAR-0050C2A1B2C3");
    EXPECT_EQ(settings::get_text(image.data(), F("chassisSerialNumber")), "");
    EXPECT_EQ(settings::get_text(image.data(), F("chassisPartNumber")), "");

    FactoryFacts nothing;  // neither EEPROM: zero identifier, no module name, no password
    compose_factory_defaults(image.data(), nothing);
    EXPECT_EQ(settings::get_text(image.data(), F("enclosureName")), "ZELMAR-000000000000");
    EXPECT_EQ(settings::get_text(image.data(), F("zelmarName")), "");
    const settings::UserLayout &u = settings::user_layout(false);
    EXPECT_EQ(settings::get_text(settings::record(image.data(), u.records, 0), u.hash), "x");
}

TEST(FactoryDefaults, BootDependentFieldsStayZeroWhenTheStepStopsEarly)
{
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE);
    compose_factory_defaults(image.data(), full_facts(true));
    for (settings::Field f : {F("minPasswordLength"), F("strictPasswordsEnabled"), F("lcdForceNewPinCode"),
                              F("lcdButtonLock"), F("syslogServerPort"), F("sessionTimeout"),
                              F("SSLSessionCacheTimeout"), F("tcpTimeout"), F("urbInterval"),
                              F("manualPolicyFrontBays0"), F("vigilSystem"), F("baudRate")})
        EXPECT_EQ(settings::get_u(image.data(), f), 0u) << f.name;
    EXPECT_EQ(settings::get_text(image.data(), F("lcdPin")), "");
}

TEST(FactoryDefaults, EscapedSerialNumberFitsTheEnclosureName)
{
    FactoryFacts facts = full_facts(false);
    facts.chassis_serial = "SN 42.77/31";
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE);
    compose_factory_defaults(image.data(), facts);
    EXPECT_EQ(settings::get_text(image.data(), F("enclosureName")), "SN\\ 42\\.77\\/31");
    EXPECT_EQ(settings::get_text(image.data(), F("chassisSerialNumber")), "SN 42.77/31");

    // Twenty characters that all need escaping would take 40: the name keeps
    // whole escapes up to the field's 32 characters and never a lone backslash.
    facts.chassis_serial = std::string(20, '.');
    compose_factory_defaults(image.data(), facts);
    std::string name(settings::get_text(image.data(), F("enclosureName")));
    std::string sixteen_escapes;
    for (int i = 0; i < 16; ++i)
        sixteen_escapes += "\\.";
    EXPECT_EQ(name, sixteen_escapes);
    EXPECT_EQ(settings::get_text(image.data(), F("rackName")), "UnnamedRack");
}
