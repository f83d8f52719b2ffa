// Many runs of cfgpull, cfgpush and cfgimage at once on one module: the
// settings lock must serialise them so that no run works on another's
// half-written device and no edit is lost, and the end state is what one
// run alone leaves. The edit loops run fewer rounds where a round costs
// more (the emulator, the sanitizers).
#include "sim_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kEdits = CFG_SLOW_BUILD ? 24 : 100;

// Factory defaults stored by cfgpush. Without the identity EEPROM the
// defaults hold no salted hash, so every restore stores the same image.
void prepare(const SimModule &m)
{
    m.make_blank();
    std::filesystem::remove(m.at("/sim/i2c/52"));
    ASSERT_EQ(m.run("cfgpush", {"-A"}, -1, 10).status, 0);
}

} // namespace

TEST(Concurrency, TwentyRunsAtOnceLeaveWhatOneRunLeaves)
{
    SimModule reference, m;
    prepare(reference);
    prepare(m);
    ASSERT_EQ(reference.run("cfgpull", {"-a", "-l", "-G", "-b", "-v"}, -1, 10).status, 0);
    const std::vector<std::vector<std::string>> runs = {
        {"cfgpull", "-a"},  {"cfgpush", "-A"}, {"cfgpull", "-e"},       {"cfgpull", "-n"},
        {"cfgpull", "-A"},  {"cfgpull", "-u"}, {"cfgpush", "-A"},       {"cfgpull", "-l", "-G"},
        {"cfgpull", "-b"},  {"cfgpull", "-v"}, {"cfgpull", "-sa"},      {"cfgpull", "-x", "-F", "-K"},
        {"cfgpush", "-A"},  {"cfgpull", "-a"}, {"cfgpull", "-e", "-n"}, {"cfgpull", "-g"},
        {"cfgpull", "-ee"}, {"cfgpush", "-A"}, {"cfgpull", "-A", "-l"}, {"cfgpull", "-a", "-b", "-v", "-G"},
    };
    std::vector<RunResult> results(runs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < runs.size(); ++i)
        threads.emplace_back([&, i] { results[i] = m.run(runs[i][0], {runs[i].begin() + 1, runs[i].end()}, -1, 20); });
    for (std::thread &t : threads)
        t.join();
    for (std::size_t i = 0; i < runs.size(); ++i)
        EXPECT_EQ(results[i].status, 0) << runs[i][0] << " " << runs[i][1] << ": " << results[i].err;
    EXPECT_EQ(m.read_image(), reference.read_image());
    for (const char *f : {"/etc/wrenconf", "/etc/netconf", "/etc/snmp/snmpd.conf", "/etc/passwd", "/etc/group",
                          "/etc/bladesig", "/etc/urb.conf", "/etc/firmwaremgmt.conf", "/etc/KAT.info", "/etc/ldapconf",
                          "/etc/ldapgroup", "/etc/bayconf", "/etc/mlninfo", "/dev/uboot"})
        EXPECT_EQ(m.read(f), reference.read(f)) << f;
}

// cfgimage edits of the device itself take the settings lock: a cfgpull
// run that loaded the image before an edit cannot store it back after.
TEST(Concurrency, DeviceEditsAgainstACfgpullLoopLoseNone)
{
    SimModule m;
    prepare(m);
    std::string device = m.at("/dev/env").string();
    std::atomic<bool> done{false};
    std::thread loop([&] {
        while (!done)
            m.run("cfgpull", {"-A"}, -1, 20);
    });
    std::vector<std::string> expected(8), get = {"get", device};
    for (int k = 0; k < 8; ++k)
        get.push_back("trapReceivers[" + std::to_string(k) + "]");
    std::istringstream first(m.run("cfgimage", get).out);
    for (std::string &v : expected)
        std::getline(first, v);
    int lost = 0;
    for (int i = 0; i < kEdits; ++i) {
        expected[i % 8] = "192.0.2." + std::to_string(i);
        ASSERT_EQ(m.run("cfgimage", {"set", device, get[2 + i % 8] + "=" + expected[i % 8]}, -1, 20).status, 0);
        std::string want;
        for (const std::string &v : expected)
            want += v + "\n";
        lost += m.run("cfgimage", get, -1, 20).out != want;
    }
    done = true;
    loop.join();
    EXPECT_EQ(lost, 0);
}

// Two edits of one image file at once: the file's lock keeps both.
TEST(Concurrency, PairsOfImageFileEditsLoseNone)
{
    SimModule m;
    prepare(m);
    std::string image = m.at("/env.bin").string();
    std::filesystem::copy_file(m.at("/dev/env"), image);
    int lost = 0;
    for (int i = 0; i < kEdits; ++i) {
        std::string rack = "rack" + std::to_string(i), ntp = "192.0.2." + std::to_string(i);
        std::thread other([&] { m.run("cfgimage", {"set", image, "ntpServer1=" + ntp}, -1, 20); });
        m.run("cfgimage", {"set", image, "rackName=" + rack}, -1, 20);
        other.join();
        lost += m.run("cfgimage", {"get", image, "rackName", "ntpServer1"}, -1, 20).out != rack + "\n" + ntp + "\n";
    }
    EXPECT_EQ(lost, 0);
}
