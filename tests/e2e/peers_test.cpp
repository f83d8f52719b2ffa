// Checks against programs written elsewhere: the boot loader's environment
// image tool and the SNMP agent.
#include "bootenv/uboot_env.h"
#include "settings/layout.h"
#include "unit/sim_root.h"
#include "writers/output.h"
#include "writers/snmpd.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using settings::F;

namespace {

using Block = std::vector<std::uint8_t>;

std::string find_program(const char *path)
{
    return ::access(path, X_OK) == 0 ? path : "";
}

// Starts `argv` with `env` added, output to `log`.
pid_t start(const std::vector<std::string> &argv, const std::vector<std::string> &env, const fs::path &log)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        FILE *f = std::fopen(log.c_str(), "w");
        if (f) {
            ::dup2(::fileno(f), 1);
            ::dup2(::fileno(f), 2);
        }
        for (const std::string &e : env)
            ::putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Waits up to `ms` for `pid`, then stops it. Returns the exit status or -1
// when it had to be stopped.
int finish(pid_t pid, int ms)
{
    int status = 0;
    for (int waited = 0; waited < ms; waited += 50) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
    return -1;
}

int run(const std::vector<std::string> &argv, const std::vector<std::string> &env, const fs::path &log, int ms)
{
    return finish(start(argv, env, log), ms);
}

class Mkenvimage : public ::testing::Test {
protected:
    void SetUp() override
    {
        tool_ = find_program("/usr/bin/mkenvimage");
        if (tool_.empty())
            GTEST_SKIP() << "mkenvimage is not installed";
        sim_root().write("/etc/gpio_states", "ZELMARBOARDTYPE=0\n");
        clear_sim_logs();
    }

    Block image(const std::vector<std::string> &entries, std::uint8_t pad)
    {
        std::string text;
        for (const std::string &e : entries)
            text += e + "\n";
        sim_root().write("/tmp.env.txt", text);
        int rc = run({tool_, "-b", "-p", std::to_string(pad), "-s", "1024", "-o", sim_root().at("/tmp.env.bin"),
                      sim_root().at("/tmp.env.txt")},
                     {}, sim_root().at("/tmp.env.log"), 10000);
        EXPECT_EQ(rc, 0) << sim_root().read("/tmp.env.log");
        return sim_root().read_bytes("/tmp.env.bin");
    }

    std::string tool_;
};

const std::vector<std::string> &kDefault = default_uboot_entries();

} // namespace

TEST_F(Mkenvimage, ItsBlocksAreReadAsTheyAreAndEveryEditMatchesIt)
{
    for (std::uint8_t pad : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
        SCOPED_TRACE(static_cast<int>(pad));
        sim_root().write_bytes("/dev/uboot", image(kDefault, pad));
        Block b(UBOOT_ENV_SIZE);
        ASSERT_EQ(read_uboot_env(b.data()), 0);
        EXPECT_EQ(b, image(kDefault, pad));
        EXPECT_EQ(sim_root().read("/ramdisk/ubootmsg.log"), "");  // no CRC fallback

        // Growing, the USB parameter added and changed, then shrinking.
        std::vector<std::string> want = kDefault;
        for (auto [usb, value, rate, usbd] : {std::tuple{false, 115200, "115200", ""}, {true, 3, "115200", " usbd=3"},
                                              {true, 7, "115200", " usbd=7"}, {false, 1200, "1200", " usbd=7"}}) {
            ASSERT_EQ(usb ? update_usb_setting(static_cast<std::uint32_t>(value), b.data())
                          : update_uboot_baudrate_setting(value, b.data(), UBOOT_ENV_SIZE),
                      0);
            want[2] = std::string("baudrate=") + rate;
            want[10] = std::string("bootargs=root=/dev/ram0 console=ttyS0,") + rate + usbd;
            EXPECT_EQ(b, image(want, pad)) << value;
        }
        ASSERT_EQ(write_uboot_env(b.data()), 0);
        EXPECT_EQ(sim_root().read_bytes("/dev/uboot"), image(want, pad));
    }
}

TEST_F(Mkenvimage, EntriesInAnotherOrder)
{
    std::vector<std::string> env = {"bootargs=console=ttyS0,9600 root=/dev/ram0", "ethaddr=DE:AD:BE:EF:01:01",
                                    "baudrate=9600"};
    Block b = image(env, 0xFF);
    ASSERT_EQ(update_usb_setting(4, b.data()), 0);
    ASSERT_EQ(update_uboot_baudrate_setting(57600, b.data(), UBOOT_ENV_SIZE), 0);
    EXPECT_EQ(b, image({"ethaddr=DE:AD:BE:EF:01:01", "baudrate=57600",
                        "bootargs=console=ttyS0,57600 root=/dev/ram0 usbd=4"},
                       0xFF));
}

namespace {

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

std::string compose(const std::vector<std::uint8_t> &image)
{
    OutputBuffer out;
    LogEntries log;
    compose_snmpd_conf(image.data(), out, log);
    return std::string(out.text());
}

} // namespace

// The agent takes every line without a complaint and answers with the stored
// texts to the stored community, also where they need quoting.
TEST(SnmpdPeer, AnswersWithTheStoredTextsToTheStoredCommunity)
{
    std::string snmpd = find_program("/usr/sbin/snmpd"), snmpget = find_program("/usr/bin/snmpget");
    if (snmpd.empty() || snmpget.empty())
        GTEST_SKIP() << "snmpd or snmpget is not installed";
    struct Case {
        const char *community, *location, *contact, *read_contact;
    };
    const Case cases[] = {
        {"public", "Lab 3 rack 7", "ops@example.com", "ops@example.com"},
        {"#p \"u'b\\ l\t", "x'y \"#z\\ \x01\xc3\xa9", " #ops", "ops"},  // no form for "#": the closest
    };
    for (const Case &c : cases) {
        std::vector<std::uint8_t> im(settings::IMAGE_SIZE, 0);
        for (auto [f, v] : {std::pair{F("syslocation"), c.location}, {F("syscontact"), c.contact},
                            {F("rocommunity"), c.community}, {F("rwcommunity"), c.community}})
            settings::set_text(im.data(), f, v);
        for (unsigned k : {0u, 3u, 7u}) {  // receivers with gaps
            settings::set_text(im.data(), F("trapReceivers"), "127.0.0." + std::to_string(k + 10), k);
            settings::set_text(im.data(), F("trapCommunities"), "trap" + std::to_string(k), k);
        }
        fs::create_directories(sim_root().at("/snmp-peer/persist"));
        sim_root().write("/snmp-peer/snmpd.conf", compose(im));
        std::string port = std::to_string(free_udp_port());
        pid_t agent = start({snmpd, "-f", "-Lo", "-C", "-c", sim_root().at("/snmp-peer/snmpd.conf"),
                             "udp:127.0.0.1:" + port},
                            {"MIBS=", "SNMP_PERSISTENT_DIR=" + sim_root().at("/snmp-peer/persist").string()},
                            sim_root().at("/snmp-peer/snmpd.log"));
        std::vector<std::string> answers;
        for (const char *oid : {"1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.4.0"}) {  // sysLocation.0, sysContact.0
            int status = -1;
            for (int tries = 0; status != 0 && tries < 10; ++tries)
                status = run({snmpget, "-v2c", "-c", c.community, "-t", "0.5", "-r", "0", "-Oqvx",
                              "127.0.0.1:" + port, oid},
                             {"MIBS="}, sim_root().at("/snmp-peer/get.log"), 3000);
            std::istringstream hex(sim_root().read("/snmp-peer/get.log"));
            answers.emplace_back();
            for (std::string byte; hex >> byte;)  // "4C 61 62 "
                if (std::erase(byte, '"'), byte.size() == 2 && std::isxdigit(byte[0]) && std::isxdigit(byte[1]))
                    answers.back() += static_cast<char>(std::stoi(byte, nullptr, 16));
        }
        finish(agent, 0);
        EXPECT_EQ(answers, (std::vector<std::string>{c.location, c.read_contact})) << c.community;
        EXPECT_EQ(sim_root().read("/snmp-peer/snmpd.log").find("line "), std::string::npos)
            << sim_root().read("/snmp-peer/snmpd.log");
    }
}
