// Checks against programs written elsewhere: the boot loader's environment
// image tool and the SNMP agent.
#include "bootenv/uboot_env.h"
#include "settings/layout.h"
#include "unit/sim_root.h"
#include "writers/snmpd.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <sstream>

using settings::F;

namespace {

using Block = std::vector<std::uint8_t>;

bool installed(std::initializer_list<const char *> programs)
{
    for (const char *p : programs)
        if (::access(p, X_OK) != 0)
            return false;
    return true;
}

// The image tool's big-endian 1 KiB block of `entries`, `pad` after the end mark.
Block mkenvimage(const std::vector<std::string> &entries, std::uint8_t pad)
{
    std::string text;
    for (const std::string &e : entries)
        text += e + "\n";
    sim_root().write("/env.txt", text);
    RunResult r = sim_root().run("/usr/bin/mkenvimage", {"-b", "-p", std::to_string(pad), "-s", "1024", "-o",
                                                         sim_root().at("/env.bin"), sim_root().at("/env.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    return sim_root().read_bytes("/env.bin");
}

int free_udp_port()
{
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

} // namespace

TEST(Mkenvimage, ItsBlocksAreReadAsTheyAreAndEveryEditMatchesIt)
{
    if (!installed({"/usr/bin/mkenvimage"}))
        GTEST_SKIP() << "mkenvimage is not installed";
    sim_root().write("/etc/gpio_states", "ZELMARBOARDTYPE=0\n");
    for (std::uint8_t pad : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
        SCOPED_TRACE(static_cast<int>(pad));
        sim_root().write_bytes("/dev/uboot", mkenvimage(default_uboot_entries(), pad));
        Block b(kUbootEnvSize);
        ASSERT_EQ(read_uboot_env(b.data()), 0);
        EXPECT_EQ(b, mkenvimage(default_uboot_entries(), pad));
        EXPECT_EQ(sim_root().read("/ramdisk/ubootmsg.log"), "");  // no CRC fallback

        // Growing, the USB parameter added and changed, then shrinking.
        std::vector<std::string> want = default_uboot_entries();
        for (auto [usb, value, rate, usbd] : {std::tuple{false, 115200, "115200", ""}, {true, 3, "115200", " usbd=3"},
                                              {true, 7, "115200", " usbd=7"}, {false, 1200, "1200", " usbd=7"}}) {
            ASSERT_EQ(usb ? update_usb_setting(static_cast<std::uint32_t>(value), b.data())
                          : update_uboot_baudrate_setting(value, b.data(), kUbootEnvSize),
                      0);
            want[2] = std::string("baudrate=") + rate;
            want[10] = std::string("bootargs=root=/dev/ram0 console=ttyS0,") + rate + usbd;
            EXPECT_EQ(b, mkenvimage(want, pad)) << value;
        }
        ASSERT_EQ(write_uboot_env(b.data()), 0);
        EXPECT_EQ(sim_root().read_bytes("/dev/uboot"), mkenvimage(want, pad));
    }

    // Entries in another order are edited where they stand.
    Block b = mkenvimage({"bootargs=console=ttyS0,9600 root=/dev/ram0", "ethaddr=DE:AD:BE:EF:01:01", "baudrate=9600"}, 0xFF);
    ASSERT_EQ(update_usb_setting(4, b.data()), 0);
    ASSERT_EQ(update_uboot_baudrate_setting(57600, b.data(), kUbootEnvSize), 0);
    EXPECT_EQ(b, mkenvimage({"ethaddr=DE:AD:BE:EF:01:01", "baudrate=57600", "bootargs=console=ttyS0,57600 root=/dev/ram0 usbd=4"},
                            0xFF));
}

// The agent takes every line without a complaint and answers each stored
// community with the stored texts, also where they need quoting ("#" and
// white space before a contact have no form: the closest is written), and
// no receiver is read as an option.
TEST(SnmpdPeer, AnswersEachStoredCommunityWithTheStoredTexts)
{
    const char *snmpd = "/usr/sbin/snmpd", *snmpget = "/usr/bin/snmpget";
    if (!installed({snmpd, snmpget}))
        GTEST_SKIP() << "snmpd or snmpget is not installed";
    const std::string plain = "public", quoted = "#p \"u'b\\ l\t", location = "x'y \"#z\\ \x01\xc3\xa9";
    Block im(settings::kImageSize, 0);
    for (auto [f, v] : {std::pair{F("syslocation"), location}, {F("syscontact"), std::string(" #ops")},
                        {F("rocommunity"), plain}, {F("rwcommunity"), quoted}})
        settings::set_text(im.data(), f, v);
    for (unsigned k : {0u, 3u, 7u}) {  // receivers with gaps
        settings::set_text(im.data(), F("trapReceivers"), "127.0.0." + std::to_string(k + 10), k);
        settings::set_text(im.data(), F("trapCommunities"), "trap" + std::to_string(k), k);
    }
    settings::set_text(im.data(), F("trapReceivers"), "-s 127.0.0.1:9", 1);  // an option to the agent: it crashed
    settings::set_text(im.data(), F("trapCommunities"), "-c", 3);
    OutputBuffer conf;
    LogEntries log;
    compose_snmpd_conf(im.data(), conf, log);
    sim_root().write("/snmp/snmpd.conf", std::string(conf.text()));
    std::filesystem::create_directories(sim_root().at("/snmp/persist"));
    std::string port = std::to_string(free_udp_port());
    ::setenv("MIBS", "", 1);  // numeric names only: no MIB files read, none complained of
    pid_t agent = ::fork();
    if (agent == 0) {
        ::setenv("SNMP_PERSISTENT_DIR", sim_root().at("/snmp/persist").c_str(), 1);
        if (std::freopen(sim_root().at("/snmp/log").c_str(), "w", stdout) != nullptr)
            ::dup2(1, 2);
        exec_built(snmpd, {"-f", "-Lo", "-C", "-c", sim_root().at("/snmp/snmpd.conf"), "udp:127.0.0.1:" + port});
    }
    for (const std::string &community : {plain, quoted})
        for (auto [oid, want] : {std::pair{"1.3.6.1.2.1.1.6.0", location}, {"1.3.6.1.2.1.1.4.0", std::string("ops")}}) {
            RunResult r;  // the agent may still be starting
            for (int tries = 0; r.status != 0 && tries < 10; ++tries)
                r = sim_root().run(snmpget, {"-v2c", "-c", community, "-t", "0.5", "-r", "0", "-Oqvx", "127.0.0.1:" + port, oid});
            std::istringstream hex(r.out);  // "4C 61 62 "
            std::string answer;
            for (std::string byte; hex >> byte;)
                if (std::erase(byte, '"'), byte.size() == 2 && std::isxdigit(byte[0]) && std::isxdigit(byte[1]))
                    answer += static_cast<char>(std::stoi(byte, nullptr, 16));
            EXPECT_EQ(answer, want) << community << " " << oid << ": " << r.err;
        }
    ::kill(agent, SIGTERM);
    ::waitpid(agent, nullptr, 0);
    EXPECT_EQ(sim_root().read("/snmp/log").find("line "), std::string::npos) << sim_root().read("/snmp/log");
}
