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

TEST(EnclosureRun, BootEnvironmentDeviceFailuresEndWith255AfterTheirLogEntry)
{
    Module m(115200);
    m.write_bytes("/dev/uboot", std::vector<std::uint8_t>(512, 0));
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(m.read("/ramdisk/ubootmsg.log").find("read_uboot_env: Error reading from NVRAM."), std::string::npos);
    EXPECT_NE(m.read("/etc/wrenconf").find("baudRate=115200"), std::string::npos);

    std::filesystem::remove(m.at("/dev/uboot"));
    r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(m.read("/ramdisk/ubootmsg.log").find("Can't open /dev/uboot. No such file or directory"),
              std::string::npos);
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

TEST(EnclosureRun, CreateAndWriteFailures)
{
    Module m(9600);
    std::filesystem::create_directory(m.at("/etc/wrenconf"));
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Can't create wrenconf file: Is a directory\n");
    std::filesystem::remove(m.at("/etc/wrenconf"));

    r = m.run("cfgpull", {"-e"}, 100);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't write enclosure configuration file: File too large\n");
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

TEST(NetworkRun, MissingSnmpDirectoryFailsAfterNetconf)
{
    Module m;
    std::filesystem::remove_all(m.at("/etc/snmp"));
    RunResult r = m.run("cfgpull", {"-n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't create snmpd.conf file: No such file or directory\n");
    EXPECT_NE(m.read("/etc/netconf").find("\nocsp=0\n"), std::string::npos);
}

TEST(NetworkRun, CreateAndWriteFailures)
{
    Module m;
    std::filesystem::create_directory(m.at("/etc/netconf"));
    RunResult r = m.run("cfgpull", {"-n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't create netconf file: Is a directory\n");
    std::filesystem::remove(m.at("/etc/netconf"));

    r = m.run("cfgpull", {"-n"}, 100);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't write net configuration file: File too large\n");

    std::filesystem::create_symlink("/dev/full", m.at("/etc/snmp/snmpd.conf"));
    r = m.run("cfgpull", {"-n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't write net configuration file: No space left on device\n");
    EXPECT_NE(m.read("/etc/netconf").find("\nocsp=0\n"), std::string::npos);
}
