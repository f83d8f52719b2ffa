// Factory restore end to end: a blank or damaged module, both restore paths.
#include "sim_module.h"

#include "settings/layout.h"
#include "store/nvram.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using settings::F;

namespace {

bool has_line(const std::string &log, const std::string &line)
{
    return ("\n" + log).find("\n" + line + "\n") != std::string::npos;
}

std::string admin_hash(const std::vector<std::uint8_t> &image)
{
    const settings::UserLayout &u = settings::user_layout(false);
    return std::string(settings::get_text(settings::record(image.data(), u.records, 0), u.hash));
}

} // namespace

TEST(FactoryRestore, OptionAOnUnusableDevicesRestoresInProcess)
{
    struct Case {
        const char *name;
        std::vector<std::uint8_t> raw;
        const char *logged;
    };
    std::vector<std::uint8_t> damaged(RAW_IMAGE_SIZE, 0xFF);
    for (int i = 0; i < 40; ++i)
        damaged[255 * 5 + i] = static_cast<std::uint8_t>(i);
    const Case cases[] = {
        {"erased", std::vector<std::uint8_t>(RAW_IMAGE_SIZE, 0xFF), "<13> cfgtools: NVRAM is unformatted or corrupted (FFFFFF)."},
        {"zeroed", std::vector<std::uint8_t>(RAW_IMAGE_SIZE, 0x00), "<13> cfgtools: NVRAM is unformatted or corrupted (000000)."},
        {"uncorrectable", damaged, "<13> cfgtools: NVRAM block 5 failed check"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimModule m;
        m.make_blank();
        m.write_bytes("/dev/env", c.raw);
        RunResult r = m.run("cfgpull", {"-a"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(has_line(m.syslog(), c.logged)) << m.syslog();
        EXPECT_TRUE(has_line(m.syslog(), "<13> cfgtools: Factory Settings Restored.")) << m.syslog();
        std::string calls = m.calls();
        EXPECT_NE(calls.find("enc_reboot 10\nsleep 120\n"), std::string::npos) << calls;
        EXPECT_EQ(calls.find("system "), std::string::npos);

        auto image = m.read_image();
        EXPECT_EQ(std::string(image.begin(), image.begin() + 3), "002");
        EXPECT_EQ(image[3], 40);
        EXPECT_EQ(settings::get_text(image.data(), F("enclosureName")), "SN0042A7731");
        EXPECT_EQ(settings::get_text(image.data(), F("zelmarName")), "ZELMAR-0050C2A1B2C3");
        EXPECT_EQ(settings::get_u(image.data(), F("sessionTimeout")), 1440u);
        std::string hash = admin_hash(image);
        EXPECT_STREQ(crypt("Adm1n!pw", hash.c_str()), hash.c_str());
        // The writers of -a ran on the defaults.
        EXPECT_NE(m.read("/etc/wrenconf").find("enclosureName=SN0042A7731\n"), std::string::npos);
        EXPECT_NE(m.read("/etc/passwd").find("Administrator:"), std::string::npos);
    }
}

TEST(FactoryRestore, RebootOrFailOver)
{
    struct Case {
        const char *login_allowed, *em_status, *effect;
    } cases[] = {
        {nullptr, nullptr, "enc_reboot 10"},      // status unavailable
        {nullptr, "0 2", "em_failover"},          // a partner can take over
        {nullptr, "1 2", "enc_reboot 10"},
        {nullptr, "0 3", "enc_reboot 10"},
        {"838891", "0 2", "enc_reboot 10"},       // login allowed sends it straight to reboot
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.login_allowed ? c.login_allowed : "-") + " / " + (c.em_status ? c.em_status : "-"));
        SimModule m;
        m.make_blank();
        if (c.login_allowed)
            m.write("/sim/login_allowed", c.login_allowed);
        if (c.em_status)
            m.write("/sim/em_status", c.em_status);
        EXPECT_EQ(m.run("cfgpull", {"-a"}).status, 0);
        std::string calls = m.calls();
        EXPECT_NE(calls.find(std::string(c.effect) + "\nsleep 120\n"), std::string::npos) << calls;
        EXPECT_EQ(calls.find(std::string(c.effect) == "em_failover" ? "enc_reboot" : "em_failover"), std::string::npos);
    }
}

TEST(FactoryRestore, HashOfAShortPassword)
{
    SimModule m;
    m.make_blank();
    m.install_board("abc");
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    std::string hash = admin_hash(m.read_image());
    EXPECT_EQ(hash.size(), 13u);
    EXPECT_STREQ(crypt("abc", hash.c_str()), hash.c_str());
}

TEST(FactoryRestore, OtherOptionsDelegateToCfgpushAndLoadAgain)
{
    SimModule m;
    m.make_blank();
    RunResult r = m.run("cfgpull", {"-e"});  // cfgpush takes the same lock: it must not wait for us
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(m.calls().find("system /usr/sbin/cfgpush -A\n"), std::string::npos);
    EXPECT_EQ(m.calls().find("enc_reboot"), std::string::npos);
    EXPECT_EQ(m.syslog(), "<13> cfgtools: NVRAM is unformatted or corrupted (FFFFFF).\n");
    auto image = m.read_image();
    EXPECT_EQ(settings::get_text(image.data(), F("enclosureName")), "SN0042A7731");
    EXPECT_NE(m.read("/etc/wrenconf").find("enclosureName=SN0042A7731\n"), std::string::npos);
    EXPECT_FALSE(m.exists("/etc/passwd"));  // only the option's own file
}

TEST(FactoryRestore, VersionThatCannotBeKept)
{
    SimModule m;
    m.make_blank();
    auto image = sample_image();
    image[3] = 41;  // newer, with a magic that is not downgraded
    m.write_image(image);
    EXPECT_EQ(m.run("cfgpull", {"-sa"}).status, 0);
    EXPECT_TRUE(has_line(m.syslog(), "<13> cfgtools: NVRAM format could not be preserved."));
    EXPECT_TRUE(has_line(m.syslog(), "<13> cfgtools: Factory Settings Restored."));
    EXPECT_EQ(m.read_image()[3], 40);
}

TEST(FactoryRestore, WithoutBoardTypeTheBootDependentDefaultsStayZero)
{
    SimModule m;
    m.make_blank();
    std::filesystem::remove(m.at("/etc/gpio_states"));
    RunResult r = m.run("cfgpull", {"-a"});
    EXPECT_EQ(r.status, 0);
    auto image = m.read_image();
    EXPECT_EQ(settings::get_text(image.data(), F("enclosureName")), "ZELMAR-000000000000");
    EXPECT_EQ(settings::get_text(image.data(), F("zelmarName")), "");
    EXPECT_EQ(admin_hash(image), "x");
    EXPECT_EQ(settings::get_u(image.data(), F("baudRate")), 9600u);
    for (settings::Field f : {F("sessionTimeout"), F("syslogServerPort"), F("tcpTimeout"), F("minPasswordLength"),
                              F("vigilSystem"), F("urbInterval")})
        EXPECT_EQ(settings::get_u(image.data(), f), 0u) << f.name;
}

TEST(FactoryRestore, FipsModeUsesTheFipsRecordAndHash)
{
    SimModule m;
    m.make_blank();
    m.write("/proc/sys/crypto/fips_enabled", "1\n");
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    auto image = m.read_image();
    const settings::UserLayout &u = settings::user_layout(true);
    const std::uint8_t *admin = settings::record(image.data(), u.records, 0);
    std::string hash(settings::get_text(admin, u.hash));
    EXPECT_TRUE(hash.starts_with("$5$")) << hash;
    EXPECT_STREQ(crypt("Adm1n!pw", hash.c_str()), hash.c_str());
    EXPECT_EQ(settings::get_u(admin, u.bayMask1), 0xFFFFFFFFu);
    EXPECT_EQ(settings::get_text(image.data(), F("lcdPin")).size(), 6u);
    EXPECT_EQ(settings::get_text(image.data(), F("rocommunity")), "");
    EXPECT_EQ(settings::get_u(image.data(), F("featureBits")), 0x80u);
}
