// cfgpull -e and -n end to end: the files, the console follow-up and the
// failure paths.
#include "sim_module.h"

#include "settings/layout.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>

using settings::F;

namespace {

const std::vector<std::string> kEnv = {"bootdelay=1", "baudrate=9600",
                                       "bootargs=root=/dev/ram0 console=ttyS0,9600"};

struct Module : SimModule {
    explicit Module(std::int32_t stored_rate = 115200)
    {
        auto image = sample_image();
        settings::set_i(image.data(), F("baudRate"), stored_rate);
        write_image(image);
        write_bytes("/dev/uboot", uboot_block(kEnv));
    }
};

} // namespace

TEST(EnclosureRun, ConsoleAtAnotherRateIsRestartedAndTheBootEnvironmentFollows)
{
    Module m(115200);
    m.write("/sim/console_baudrate", "9600");
    RunResult r = m.run("cfgpull", {"-e"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string conf = m.read("/etc/wrenconf");
    EXPECT_EQ(conf.substr(0, 28), "enclosureName=Rack7-Encl2\nra");
    EXPECT_NE(conf.find("\nbaudRate=115200\n"), std::string::npos);
    EXPECT_NE(m.calls().find("sendKillSignalToGetty"), std::string::npos);
    EXPECT_EQ(m.read_bytes("/dev/uboot"),
              uboot_block({"bootdelay=1", "baudrate=115200", "bootargs=root=/dev/ram0 console=ttyS0,115200"}));
}

TEST(EnclosureRun, EqualRatesTouchNeitherConsoleNorBootEnvironment)
{
    Module m(9600);
    m.write("/sim/console_baudrate", "9600");
    ASSERT_EQ(m.run("cfgpull", {"-e"}).status, 0);
    EXPECT_EQ(m.calls().find("sendKillSignalToGetty"), std::string::npos);
    EXPECT_EQ(m.read_bytes("/dev/uboot"), uboot_block(kEnv));
}

TEST(EnclosureRun, ErasedBootEnvironmentGetsTheDefaultWithTheNewRate)
{
    Module m(38400);
    m.write_bytes("/dev/uboot", std::vector<std::uint8_t>(1024, 0xFF));
    ASSERT_EQ(m.run("cfgpull", {"-e"}).status, 0);
    auto b = m.read_bytes("/dev/uboot");
    std::string data(b.begin() + 4, b.end());
    EXPECT_NE(data.find(std::string("baudrate=38400\0", 15)), std::string::npos);
    EXPECT_NE(data.find(std::string("bootargs=root=/dev/ram0 console=ttyS0,38400\0\0", 45)), std::string::npos);
    EXPECT_EQ(b[1023], 0xFF);
}

TEST(NetworkRun, WritesBothFiles)
{
    Module m;
    RunResult r = m.run("cfgpull", {"-n"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.read("/etc/netconf").substr(0, 21), "dhcpFlag=0\ndyndnsFlag");
    EXPECT_EQ(m.read("/etc/snmp/snmpd.conf"),
              "syslocation \nsyscontact \nrocommunity \nrocommunity6 \nrwcommunity \nrwcommunity6 \n");
}
