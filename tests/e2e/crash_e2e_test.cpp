// Power failures, kills and a full disk: a run stopped at any write, truncate,
// sync or rename leaves every file wholly old or wholly new and /dev/env
// decodable, and a full disk leaves the old passwd with its kept passwords.
#include "sim_module.h"

#include "store/nvram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char kCalls[] = "write,pwrite64,ftruncate,fsync,fdatasync,rename,renameat,renameat2";

// Runs argv with the module's root in the environment and its output on
// `out` (or nowhere); returns the exit status, or 128 + the signal.
int spawn(const SimModule &m, const std::vector<std::string> &argv, const std::string &out = "/dev/null")
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::setenv("CFGPULL_SIM_ROOT", m.root().c_str(), 1);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> command(const std::string &program, const std::vector<std::string> &args)
{
    std::vector<std::string> c = {"--", bin_path(program)};
    c.insert(c.end(), args.begin(), args.end());
    return c;
}

int traced(const SimModule &m, std::vector<std::string> strace_args, const std::vector<std::string> &cmd,
           const std::string &out = "/dev/null")
{
    strace_args.insert(strace_args.begin(), {"strace", "-f", "-qq"});
    strace_args.insert(strace_args.end(), cmd.begin(), cmd.end());
    return spawn(m, strace_args, out);
}

// How often the command makes each of kCalls, run to its end once.
std::map<std::string, int> count_calls(const SimModule &m, const std::vector<std::string> &cmd)
{
    std::string log = (m.root() / "strace.log").string();
    traced(m, {"-e", std::string("trace=") + kCalls, "-o", log}, cmd);
    std::map<std::string, int> counts;
    std::ifstream in(log);
    std::regex call(R"(^(?:\d+ +)?(\w+)\()");
    std::smatch match;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, match, call))
            ++counts[match[1]];
    fs::remove(log);
    return counts;
}

std::string why_no_strace(const SimModule &m)
{
    if (*CFG_EMULATOR != '\0')
        return "strace would count the emulator's own calls, not the program's";
    if (spawn(m, {"strace", "-qq", "true"}) != 0)
        return "strace is missing or may not trace here";
    return "";
}

struct Scenario {
    std::string name;
    std::vector<std::string> cmd;
    std::function<void(SimModule &)> arm;  // the state before the run
    std::vector<std::string> files;        // each wholly old or wholly new
};

const std::string kKeptPasswd = "kstuser_:$5$kept$Hash:101:2:0,Kesslet User,:/:/bin/false\n";

std::vector<std::uint8_t> raw_of(std::vector<std::uint8_t> image, bool flip)
{
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    raw[300] ^= flip ? 0x21 : 0;  // corrected by the load, which stores the image
    return raw;
}

std::vector<Scenario> scenarios(const SimModule &m)
{
    const std::vector<std::string> etc = {"/etc/wrenconf", "/etc/netconf", "/etc/snmp/snmpd.conf",
                                          "/etc/passwd", "/etc/group", "/etc/bladesig", "/etc/urb.conf",
                                          "/etc/firmwaremgmt.conf", "/etc/KAT.info", "/dev/env"};
    auto pull = [etc](SimModule &s) {
        for (const std::string &f : etc)
            s.write(f, "old " + f + "\n");
        s.write("/etc/passwd", kKeptPasswd);
        s.write_bytes("/dev/env", raw_of(sample_image(), true));
    };
    auto image = [](SimModule &s) {
        s.write_bytes("/data/env", raw_of(sample_image(), false));
        fs::remove(s.at("/images/env"));
        fs::create_symlink("../data/env", s.at("/images/env"));
        s.write_bytes("/dev/env", raw_of(sample_image(), false));
    };
    return {
        {"cfgpull -a", command("cfgpull", {"-a"}), pull, etc},
        {"cfgimage set on a linked image file", command("cfgimage", {"set", m.at("/images/env"), "rackName=R2"}), image,
         {"/data/env"}},
        {"cfgimage set on the device", command("cfgimage", {"set", m.at("/dev/env"), "rackName=R2"}), image,
         {"/dev/env"}},
    };
}

} // namespace

TEST(Crash, AKillAtAnyWriteSyncOrRenameLeavesEachFileWholeOldOrNew)
{
    SimModule m;
    if (std::string why = why_no_strace(m); !why.empty())
        GTEST_SKIP() << why;
    m.make_blank();
    fs::create_directories(m.at("/images"));
    for (const Scenario &s : scenarios(m)) {
        SCOPED_TRACE(s.name);
        std::map<std::string, std::string> old_text, new_text;
        s.arm(m);
        for (const std::string &f : s.files)
            old_text[f] = m.read(f);
        std::map<std::string, int> counts = count_calls(m, s.cmd);
        for (const std::string &f : s.files)
            new_text[f] = m.read(f);
        int points = 0, torn = 0;
        for (const auto &[call, count] : counts)
            for (int n = 1; n <= count; ++n, ++points) {
                s.arm(m);
                std::string inject = "inject=" + call + ":signal=KILL:when=" + std::to_string(n);
                EXPECT_EQ(traced(m, {"-o", "/dev/null", "-e", inject}, s.cmd), 128 + SIGKILL) << inject;
                for (const std::string &f : s.files) {
                    std::string now = m.read(f);
                    torn += now != old_text[f] && now != new_text[f];
                    EXPECT_TRUE(now == old_text[f] || now == new_text[f]) << f << " torn at " << inject;
                }
                EXPECT_NO_THROW(m.read_image()) << inject;
            }
        EXPECT_GT(points, 0);
        EXPECT_EQ(torn, 0);
        std::cout << s.name << ": " << points << " kill points, " << torn << " torn files\n";
    }
    // A complete run takes up what killed runs left beside the files.
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    for (const auto &e : fs::recursive_directory_iterator(m.at("/etc")))
        EXPECT_FALSE(e.path().filename().string().ends_with(".tmp")) << e.path();
}

TEST(Crash, InterruptedImageEditsLeaveNoTemporaryFile)
{
    SimModule m;
    if (std::string why = why_no_strace(m); !why.empty())
        GTEST_SKIP() << why;
    fs::create_directories(m.at("/images"));
    for (const char *sig : {"TERM", "INT", "HUP"}) {
        m.write_bytes("/images/env", raw_of(sample_image(), false));
        std::string inject = std::string("inject=fsync:signal=") + sig + ":when=1";
        int status = traced(m, {"-o", "/dev/null", "-e", inject}, command("cfgimage", {"set", m.at("/images/env"), "rackName=R2"}));
        EXPECT_GT(status, 128) << sig;
        EXPECT_EQ(std::distance(fs::directory_iterator(m.at("/images")), fs::directory_iterator()), 1) << sig;
        EXPECT_EQ(m.read_bytes("/images/env"), raw_of(sample_image(), false)) << sig;
    }
}

TEST(Crash, AFullDiskKeepsTheOldPasswdAndItsKeptPasswords)
{
    SimModule m;
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs in a private mount namespace";
    m.write("/proc/sys/crypto/fips_enabled", "0\n");
    m.write_image(sample_image());
    m.write("/kept", "wren:x:0:0:0,,:/:/bin/false\n" + kKeptPasswd);
    std::string cfgpull = (*CFG_EMULATOR ? std::string(CFG_EMULATOR) + " " : "") + bin_path("cfgpull");
    const char script[] = R"(R=$1; E=$R/etc
mount -t tmpfs -o size=16k tmpfs "$E" || exit 99
cp "$R/kept" "$E/passwd" && mkdir "$E/snmp"
dd if=/dev/zero of="$E/fill" bs=1k 2>/dev/null
$2 -u; echo $? >"$R/status"; cp "$E/passwd" "$R/full"; ls -A "$E" >"$R/listing"
rm "$E/fill"; $2 -u && cp "$E/passwd" "$R/freed")";
    ASSERT_EQ(spawn(m, {"unshare", "-m", "sh", "-c", script, "sh", m.root().string(), cfgpull},
                    (m.root() / "out").string()), 0) << m.read("/out");
    EXPECT_EQ(m.read("/status"), "1\n");
    EXPECT_NE(m.read("/out").find("Can't write user/passwords to system file: No space left on device"),
              std::string::npos) << m.read("/out");
    EXPECT_EQ(m.read("/full"), m.read("/kept"));
    EXPECT_EQ(m.read("/listing"), "fill\npasswd\nsnmp\n");
    EXPECT_NE(m.read("/freed").find(kKeptPasswd), std::string::npos) << m.read("/freed");
}
