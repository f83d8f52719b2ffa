// cfgpull's load of /dev/env, end to end in a simulated module.
#include "sim_module.h"

#include "store/nvram.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

const std::string kUsage =
    "cfgpull: Read settings from NVRAM and store in fs\n"
    "\t-A, \tdo all settings, truncate pad in nvram\n"
    "\t-a, \tdo all settings\n"
    "\t-b, \tdo only bayconf settings\n"
    "\t-e, \tdo only enclosure settings\n"
    "\t-n, \tdo only network settings\n"
    "\t-u, \tdo only user and group settings\n"
    "\t-x, \tdo only blade signatures\n"
    "\t-v, \tdo only MLN settings\n"
    "\t-l, \tdo only ldapconf settings\n"
    "\t-G, \tdo only ldapgroup settings\n"
    "\t-F, \tdo only fw_mgmt settings\n"
    "\t-K, \tdo only KAT info\n"
    "\t-???, \tetc.\n";

std::vector<std::uint8_t> encoded(const std::vector<std::uint8_t> &image)
{
    std::vector<std::uint8_t> copy = image, raw(RAW_IMAGE_SIZE);
    encode_image(copy.data(), raw.data());
    return raw;
}

} // namespace

TEST(Command, NoArgumentsPrintsUsageWithoutTouchingTheModule)
{
    SimModule m;
    RunResult r = m.run("cfgpull", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(m.exists("/ramdisk/.env_lock"));
}

TEST(Command, OperandsOnlyTakeAndReleaseTheLock)
{
    SimModule m;
    RunResult r = m.run("cfgpull", {"foo"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(m.exists("/ramdisk/.env_lock"));
    EXPECT_FALSE(m.exists("/dev/env"));
}

TEST(Command, UnknownOptionPrintsDiagnosticAndUsageAndGoesOn)
{
    SimModule m;
    RunResult r = m.run("cfgpull", {"-z"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("invalid option -- 'z'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(kUsage), std::string::npos);
    EXPECT_EQ(r.out, "");
}

TEST(Command, WithoutASimulatedRootItRefusesToRun)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        ::unsetenv("CFGPULL_SIM_ROOT");
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        exec_built("cfgpull", {"-e"});
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
}

TEST(Lock, ASecondRunWaitsForTheHolder)
{
    SimModule m;
    m.write_image(sample_image());
    int fd = ::open(m.at("/ramdisk/.env_lock").c_str(), O_CREAT | O_RDONLY, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    RunResult r;
    std::thread runner([&] { r = m.run("cfgpull", {"-A"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    m.age("/dev/env");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(m.rewritten("/dev/env")) << "ran while the lock was held";
    ::flock(fd, LOCK_UN);
    ::close(fd);
    runner.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(m.rewritten("/dev/env"));
}

TEST(Load, CleanImageIsUsedSilentlyAndNotRewritten)
{
    SimModule m;
    m.write_image(sample_image());
    m.age("/dev/env");
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(m.syslog(), "");
    EXPECT_FALSE(m.rewritten("/dev/env"));
}

TEST(Load, CorrectedBytesAreReportedAndTheDeviceCleaned)
{
    SimModule m;
    auto image = sample_image();
    image[10700] = 0x77;  // pad bytes that a clean store drops
    auto raw = encoded(image);
    // encode_image zeroed the pad in `image`; put a value back so the stored pad is not zero.
    raw[255 * 48 + (10700 - 48 * 223)] = 0x00;
    std::vector<std::uint8_t> clean = raw;
    raw[255 * 3 + 17] ^= 0x40;
    raw[255 * 30 + 250] ^= 0x01;
    m.write_bytes("/dev/env", raw);
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Correctable errors: 2, no uncorrectable errors found.\nNVRAM cleaned.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(m.syslog(), "");
    EXPECT_EQ(m.read_bytes("/dev/env"), clean);
}

TEST(Load, CorrectionZeroesAStoredPad)
{
    SimModule m;
    auto image = sample_image();
    auto raw = encoded(image);
    // A pad byte that is not zero, with valid check bytes: build block 48 by hand.
    std::vector<std::uint8_t> block(raw.begin() + 255 * 48, raw.begin() + 255 * 49);
    block[100] = 0x5A;
    rs_encode(block.data(), block.data() + 223);
    std::copy(block.begin(), block.end(), raw.begin() + 255 * 48);
    raw[5] ^= 0x01;  // one correction forces the store
    m.write_bytes("/dev/env", raw);
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.out, "Correctable errors: 1, no uncorrectable errors found.\nNVRAM cleaned.\n");
    EXPECT_EQ(m.read_image(), image);
}

TEST(Load, UnformattedMagicIsLogged)
{
    for (std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
        SimModule m;
        m.write_bytes("/dev/env", std::vector<std::uint8_t>(RAW_IMAGE_SIZE, fill));
        m.run("cfgpull", {"-e"});
        char expected[80];
        std::snprintf(expected, sizeof expected, "<13> cfgtools: NVRAM is unformatted or corrupted (%02X%02X%02X).\n",
                      fill, fill, fill);
        EXPECT_TRUE(m.syslog().starts_with(expected)) << m.syslog();
    }
}

TEST(Load, UncorrectableBlockIsLogged)
{
    SimModule m;
    auto raw = encoded(sample_image());
    for (int i = 0; i < 40; ++i)
        raw[255 * 5 + i] ^= 0xA5;
    m.write_bytes("/dev/env", raw);
    m.run("cfgpull", {"-e"});
    EXPECT_TRUE(m.syslog().starts_with("<13> cfgtools: NVRAM block 5 failed check\n")) << m.syslog();
}

TEST(Load, NewerImageWithMagic002IsDowngraded)
{
    for (const char *opts : {"-e", "-se"}) {
        SimModule m;
        auto image = sample_image();
        std::memcpy(image.data(), "002", 3);
        image[3] = 41;
        m.write_image(image);
        RunResult r = m.run("cfgpull", {opts});
        EXPECT_EQ(r.status, 0) << opts;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(m.syslog(), "<13> cfgtools: NVRAM downgraded to version 40\n");
        image[3] = 40;
        EXPECT_EQ(m.read_image(), image);
    }
}

TEST(Load, NewerImageWithOtherMagicIsLeftAloneWithoutPreserve)
{
    SimModule m;
    auto image = sample_image();
    image[3] = 41;
    m.write_image(image);
    m.age("/dev/env");
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(m.syslog(), "");
    EXPECT_FALSE(m.rewritten("/dev/env"));

    m.run("cfgpull", {"-se"});
    EXPECT_TRUE(m.syslog().starts_with("<13> cfgtools: NVRAM format could not be preserved.\n")) << m.syslog();
}

TEST(Load, OddNumericMagicIsAccepted)
{
    SimModule m;
    auto image = sample_image();
    std::memcpy(image.data(), "123", 3);
    m.write_image(image);
    RunResult r = m.run("cfgpull", {"-e"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(m.syslog(), "");
}

TEST(Store, OptionARewritesACleanDevice)
{
    SimModule m;
    m.write_image(sample_image());
    m.age("/dev/env");
    RunResult r = m.run("cfgpull", {"-A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(m.rewritten("/dev/env"));
    EXPECT_EQ(m.read_image(), sample_image());
}
