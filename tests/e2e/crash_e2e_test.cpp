// Power failures, kills and a full disk: a run stopped at any write, truncate,
// sync or rename leaves every file wholly old or wholly new and /dev/env
// decodable, and a full disk leaves the old passwd with its kept passwords.
#include "sim_module.h"

#include "store/nvram.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace {

int traced(const SimModule &m, const std::string &option, std::vector<std::string> cmd, const std::string &log = "/dev/null")
{
    cmd.insert(cmd.begin(), {"-f", "-qq", "-o", log, "-e", option, "--"});
    return m.run("/usr/bin/strace", cmd, -1, 60).status;
}

const std::string kKeptPasswd = "kstuser_:$5$kept$Hash:101:2:0,Kesslet User,:/:/bin/false\n";

// The sample image; `flip` damages a byte the load corrects, so that it stores the image.
std::string raw_of(bool flip)
{
    std::vector<std::uint8_t> image = sample_image(), raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    raw[300] ^= flip ? 0x21 : 0;
    return {raw.begin(), raw.end()};
}

struct Scenario {
    std::string name;
    std::vector<std::string> cmd;
    const char *signal;                    // TERM also proves the temporary file goes
    std::function<void(SimModule &)> arm;  // the state before the run
    std::vector<std::string> files;        // each wholly old or wholly new
};

std::vector<Scenario> scenarios(const SimModule &m)
{
    const std::vector<std::string> etc = {"/etc/wrenconf", "/etc/netconf", "/etc/snmp/snmpd.conf", "/etc/passwd",
                                          "/etc/group", "/etc/bladesig", "/etc/urb.conf", "/etc/firmwaremgmt.conf",
                                          "/etc/KAT.info", "/dev/env"};
    auto images = [](SimModule &s) {
        s.write("/data/env", raw_of(false));
        s.write("/dev/env", raw_of(false));
    };
    auto module = [etc](SimModule &s) {
        for (const std::string &f : etc)
            s.write(f, "old " + f + "\n");
        s.write("/etc/passwd", kKeptPasswd);
        s.write("/dev/env", raw_of(true));
    };
    std::string cfgimage = bin_path("cfgimage");
    return {
        {"cfgpull -a", {bin_path("cfgpull"), "-a"}, "KILL", module, etc},
        {"cfgimage set, linked file", {cfgimage, "set", m.at("/images/env"), "rackName=R2"}, "TERM", images, {"/data/env"}},
        {"cfgimage set, device", {cfgimage, "set", m.at("/dev/env"), "rackName=R2"}, "KILL", images, {"/dev/env"}},
    };
}

} // namespace

TEST(Crash, AKillAtAnyWriteSyncOrRenameLeavesEachFileWholeOldOrNew)
{
    SimModule m;
    if (*CFG_EMULATOR != '\0')
        GTEST_SKIP() << "strace would count the emulator's own calls, not the program's";
    if (m.run("/usr/bin/strace", {"-qq", "true"}).status != 0)
        GTEST_SKIP() << "strace is missing or may not trace here";
    m.make_blank();
    fs::create_directories(m.at("/images"));
    fs::create_symlink("../data/env", m.at("/images/env"));
    std::string log = (m.root() / "strace.log").string();
    for (const Scenario &s : scenarios(m)) {
        SCOPED_TRACE(s.name);
        std::map<std::string, std::string> old_text, new_text;
        s.arm(m);
        for (const std::string &f : s.files)
            old_text[f] = m.read(f);
        traced(m, "trace=write,pwrite64,ftruncate,fsync,fdatasync,rename,renameat,renameat2", s.cmd, log);
        for (const std::string &f : s.files)
            new_text[f] = m.read(f);
        std::map<std::string, int> calls;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            line.erase(0, line.find_first_not_of("0123456789 "));  // the process id
            ++calls[line.substr(0, line.find('('))];
        }
        int points = 0;
        for (const auto &[call, count] : calls)
            for (int n = 1; n <= count; ++n, ++points) {
                s.arm(m);
                std::string inject = "inject=" + call + ":signal=" + s.signal + ":when=" + std::to_string(n);
                EXPECT_GT(traced(m, inject, s.cmd), 128) << inject;
                for (const std::string &f : s.files)
                    EXPECT_TRUE(m.read(f) == old_text[f] || m.read(f) == new_text[f]) << f << " torn at " << inject;
                EXPECT_NO_THROW(m.read_image()) << inject;
                for (const char *dir : {"/images", "/data"})  // the link, the image: no temporary file
                    EXPECT_TRUE(*s.signal != 'T' || std::distance(fs::directory_iterator(m.at(dir)), {}) == 1) << inject;
            }
        EXPECT_GT(points, 0);
        std::cout << s.name << ": " << points << " kill points\n";
    }
    // A complete run takes up what killed runs left beside the files.
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    for (const auto &e : fs::recursive_directory_iterator(m.at("/etc")))
        EXPECT_FALSE(e.path().filename().string().ends_with(".tmp")) << e.path();
}

TEST(Crash, AFullDiskKeepsTheOldPasswdAndItsKeptPasswords)
{
    SimModule m;
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs in a private mount namespace";
    m.write("/proc/sys/crypto/fips_enabled", "0\n");
    m.write("/dev/env", raw_of(false));
    m.write("/kept", "wren:x:0:0:0,,:/:/bin/false\n" + kKeptPasswd);
    std::string cfgpull = (*CFG_EMULATOR ? std::string(CFG_EMULATOR) + " " : "") + bin_path("cfgpull");
    const char script[] = R"(R=$1; E=$R/etc
mount -t tmpfs -o size=16k tmpfs "$E" || exit 99
cp "$R/kept" "$E/passwd" && mkdir "$E/snmp"
dd if=/dev/zero of="$E/fill" bs=1k 2>/dev/null
$2 -u; echo $? >"$R/status"; cp "$E/passwd" "$R/full"; ls -A "$E" >"$R/listing"
rm "$E/fill"; $2 -u && cp "$E/passwd" "$R/freed")";
    RunResult r = m.run("/usr/bin/unshare", {"-m", "sh", "-c", script, "sh", m.root().string(), cfgpull});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.read("/status"), "1\n");
    EXPECT_EQ(r.err, "Can't write user/passwords to system file: No space left on device\n");
    EXPECT_EQ(m.read("/full"), m.read("/kept"));
    EXPECT_EQ(m.read("/listing"), "fill\npasswd\nsnmp\n");
    EXPECT_NE(m.read("/freed").find(kKeptPasswd), std::string::npos) << m.read("/freed");
}
