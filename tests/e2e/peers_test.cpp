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

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using settings::F;

namespace {

using Block = std::vector<std::uint8_t>;

std::string find_program(const char *name)
{
    for (const char *dir : {"/usr/bin", "/usr/sbin", "/bin", "/sbin", "/usr/local/bin", "/usr/local/sbin"}) {
        std::string p = std::string(dir) + "/" + name;
        if (::access(p.c_str(), X_OK) == 0)
            return p;
    }
    return "";
}

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `argv` with `env` added, output to `log`; stops it after `ms` unless
// it ends first. Returns the exit status or -1 when it had to be stopped.
int run(const std::vector<std::string> &argv, const std::vector<std::string> &env, const fs::path &log, int ms)
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

class Mkenvimage : public ::testing::Test {
protected:
    void SetUp() override
    {
        tool_ = find_program("mkenvimage");
        if (tool_.empty())
            GTEST_SKIP() << "mkenvimage is not installed";
        sim_root().write("/etc/gpio_states", "ZELMARBOARDTYPE=0\n");
        clear_sim_logs();
    }

    Block image(const std::vector<std::string> &entries, std::uint8_t pad)
    {
        fs::path in = sim_root().at("/tmp.env.txt"), out = sim_root().at("/tmp.env.bin");
        std::ofstream(in) << [&] {
            std::string t;
            for (const std::string &e : entries)
                t += e + "\n";
            return t;
        }();
        char padding[8];
        std::snprintf(padding, sizeof padding, "0x%02x", pad);
        int rc = run({tool_, "-b", "-p", padding, "-s", "1024", "-o", out.string(), in.string()}, {},
                     sim_root().at("/tmp.env.log"), 10000);
        EXPECT_EQ(rc, 0) << slurp(sim_root().at("/tmp.env.log"));
        std::string s = slurp(out);
        return {s.begin(), s.end()};
    }

    std::string tool_;
};

const std::vector<std::string> kDefault = {
    "bootcmd=bootm ff800000 ffb80000", "bootdelay=1", "baudrate=9600", "loads_echo=1",
    "ethaddr=DE:AD:BE:EF:01:01", "silent=1", "autoload=n", "stdin=serial", "stdout=serial",
    "stderr=serial", "bootargs=root=/dev/ram0 console=ttyS0,9600"};

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

        std::vector<std::string> want = kDefault;
        ASSERT_EQ(update_uboot_baudrate_setting(115200, b.data(), UBOOT_ENV_SIZE), 0);
        want[2] = "baudrate=115200";
        want[10] = "bootargs=root=/dev/ram0 console=ttyS0,115200";
        EXPECT_EQ(b, image(want, pad));

        ASSERT_EQ(update_usb_setting(3, b.data()), 0);
        want[10] += " usbd=3";
        EXPECT_EQ(b, image(want, pad));

        ASSERT_EQ(update_usb_setting(7, b.data()), 0);
        want[10].back() = '7';
        EXPECT_EQ(b, image(want, pad));

        ASSERT_EQ(update_uboot_baudrate_setting(1200, b.data(), UBOOT_ENV_SIZE), 0);  // shrinks
        want[2] = "baudrate=1200";
        want[10] = "bootargs=root=/dev/ram0 console=ttyS0,1200 usbd=7";
        EXPECT_EQ(b, image(want, pad));

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

// The lines of `conf` that snmpd complains about; `other` collects any other
// error or warning it prints.
std::set<int> snmpd_complaints(const std::string &snmpd, const std::string &conf, std::string *other)
{
    fs::path dir = sim_root().at("/snmp-peer");
    fs::create_directories(dir / "persist");
    fs::path file = dir / "snmpd.conf", log = dir / "snmpd.log";
    std::ofstream(file) << conf;
    std::string address = "udp:127.0.0.1:" + std::to_string(free_udp_port());
    run({snmpd, "-f", "-C", "-c", file.string(), "-Le", address},
        {"MIBS=", "SNMP_PERSISTENT_DIR=" + (dir / "persist").string()}, log, 1500);
    std::set<int> lines;
    std::istringstream in(slurp(log));
    std::string l;
    const std::regex at_line(": line ([0-9]+): ");
    while (std::getline(in, l)) {
        std::smatch m;
        if (std::regex_search(l, m, at_line))
            lines.insert(std::stoi(m[1]));
        else if (l.find("rror") != std::string::npos || l.find("arning") != std::string::npos)
            *other += l + "\n";
    }
    return lines;
}

std::string compose(const std::vector<std::uint8_t> &image)
{
    OutputBuffer out;
    compose_snmpd_conf(image.data(), out);
    return std::string(out.text());
}

} // namespace

TEST(SnmpdPeer, AcceptsEveryLineOfAFullFileAndFlagsOnlyEmptyValues)
{
    std::string snmpd = find_program("snmpd");
    if (snmpd.empty())
        GTEST_SKIP() << "snmpd is not installed";
    std::vector<std::uint8_t> im(settings::IMAGE_SIZE, 0);
    settings::set_text(im.data(), F("syslocation"), "Lab 3 rack 7");
    settings::set_text(im.data(), F("syscontact"), "ops@example.com");
    settings::set_text(im.data(), F("rocommunity"), "public");
    settings::set_text(im.data(), F("rwcommunity"), "private");
    for (unsigned k : {0u, 3u, 7u}) {
        settings::set_text(im.data(), F("trapReceivers"), "127.0.0." + std::to_string(k + 10), k);
        settings::set_text(im.data(), F("trapCommunities"), "trap" + std::to_string(k), k);
    }
    std::string other;
    EXPECT_EQ(snmpd_complaints(snmpd, compose(im), &other), std::set<int>{});
    EXPECT_EQ(other, "");

    std::vector<std::uint8_t> gaps = im;
    settings::set_text(gaps.data(), F("syscontact"), "");
    settings::set_text(gaps.data(), F("rwcommunity"), "");
    other.clear();
    EXPECT_EQ(snmpd_complaints(snmpd, compose(gaps), &other), (std::set<int>{2, 5, 6}));
}
