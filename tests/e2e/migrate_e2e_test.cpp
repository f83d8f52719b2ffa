// cfgpull migrating an older image on /dev/env, end to end in a simulated module.
#include "sim_module.h"

#include "settings/layout.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace settings;

namespace {

std::vector<std::uint8_t> image_at(unsigned version)
{
    std::vector<std::uint8_t> image = sample_image();
    image[F("version").offset] = static_cast<std::uint8_t>(version);
    return image;
}

// A module with FIPS mode off holding an image of `version`.
struct Module : SimModule {
    explicit Module(unsigned version)
    {
        write("/proc/sys/crypto/fips_enabled", "0\n");
        write_image(image_at(version));
        age("/dev/env");
    }

    // The notices in the life of the settings, without what the writers report.
    std::string notices() const
    {
        std::istringstream in(syslog());
        std::string out, line;
        while (std::getline(in, line))
            if (line.starts_with("<13> "))
                out += line + "\n";
        return out;
    }
};

const std::string kComplete = "<13> cfgtools: NVRAM update complete.\n";

std::string updating(unsigned version)
{
    return "<13> cfgtools: Updating NVRAM version to " + std::to_string(version) + ".\n";
}

} // namespace

TEST(Migrate, PreserveBeforeTheOptionMigratesAndStoresOnce)
{
    Module m(39);
    RunResult r = m.run("cfgpull", {"-sa"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.notices(), updating(40) + kComplete);
    std::vector<std::uint8_t> want = image_at(40);
    set_i(want.data(), F("SSLSessionCacheTimeout"), 5);
    EXPECT_EQ(m.read_image(), want);
}

TEST(Migrate, PreserveAfterTheOptionLeavesTheImageAlone)
{
    Module m(39);
    RunResult r = m.run("cfgpull", {"-as"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.notices(), "");
    EXPECT_FALSE(m.rewritten("/dev/env"));
}

TEST(Migrate, OldestLayoutTakesEveryStepOnTheDevice)
{
    Module m(18);
    RunResult r = m.run("cfgpull", {"-se"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string want;
    for (unsigned v = 19; v <= 40; ++v)
        want += updating(v);
    EXPECT_EQ(m.notices(), want + kComplete);
    EXPECT_EQ(m.read_image()[F("version").offset], 40);
}

TEST(Migrate, VersionBelow18EndsInTheFactoryRestore)
{
    Module m(17);
    m.run("cfgpull", {"-se"});
    // The restore itself is still a placeholder; what leads there is settled.
    EXPECT_TRUE(m.syslog().starts_with("<13> cfgtools: NVRAM DEBUG: New version(17) not same as LE_CURRENT_VERSION(40)\n"
                                       "<13> cfgtools: NVRAM format could not be preserved.\n"))
        << m.syslog();
    EXPECT_EQ(m.syslog().find("NVRAM update complete."), std::string::npos);
}
