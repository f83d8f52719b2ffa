// cfgpull -e and -n end to end: the files and the console follow-up.
#include "sim_module.h"

#include "settings/layout.h"

#include <gtest/gtest.h>

using settings::F;

namespace {

struct Module : SimModule {
    explicit Module(std::int32_t stored_rate, const std::vector<std::uint8_t> &uboot)
    {
        auto image = sample_image();
        settings::set_i(image.data(), F("baudRate"), stored_rate);
        write_image(image);
        write_bytes("/dev/uboot", uboot);
        write("/sim/console_baudrate", "9600");
    }
};

} // namespace

TEST(EnclosureRun, ConsoleAtAnotherRateIsRestartedAndTheBootEnvironmentFollows)
{
    auto env = [](const std::string &rate) {
        return uboot_block({"bootdelay=1", "baudrate=" + rate, "bootargs=root=/dev/ram0 console=ttyS0," + rate});
    };
    for (auto [stored, restarted] : {std::pair{115200, true}, {9600, false}}) {
        Module m(stored, env("9600"));
        RunResult r = m.run("cfgpull", {"-e"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(m.read("/etc/wrenconf").find("\nbaudRate=" + std::to_string(stored) + "\n"), std::string::npos);
        EXPECT_EQ(m.calls().find("sendKillSignalToGetty") != std::string::npos, restarted);
        EXPECT_EQ(m.read_bytes("/dev/uboot"), env(std::to_string(stored)));
    }
}

TEST(EnclosureRun, ErasedBootEnvironmentGetsTheDefaultWithTheNewRate)
{
    Module m(38400, std::vector<std::uint8_t>(1024, 0xFF));
    ASSERT_EQ(m.run("cfgpull", {"-e"}).status, 0);
    auto b = m.read_bytes("/dev/uboot");
    std::string data(b.begin() + 4, b.end());
    EXPECT_NE(data.find(std::string("baudrate=38400\0", 15)), std::string::npos);
    EXPECT_NE(data.find(std::string("bootargs=root=/dev/ram0 console=ttyS0,38400\0\0", 45)), std::string::npos);
    EXPECT_EQ(b[1023], 0xFF);
}

TEST(NetworkRun, WritesBothFiles)
{
    Module m(9600, uboot_block(default_uboot_entries()));
    RunResult r = m.run("cfgpull", {"-n"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.read("/etc/netconf").substr(0, 21), "dhcpFlag=0\ndyndnsFlag");
    EXPECT_EQ(m.read("/etc/snmp/snmpd.conf"),
              "syslocation \nsyscontact \nrocommunity \nrocommunity6 \nrwcommunity \nrwcommunity6 \n");
}
