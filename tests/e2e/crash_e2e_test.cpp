// Power failures, kills, a full disk and bind mounts: a run stopped at any
// write, truncate, sync or rename leaves every file wholly old or wholly new
// (passwd, written on its own inode, exact after one more run, kept
// passwords included) and /dev/env decodable; a full disk leaves the old
// passwd with its kept passwords; a peer that rewrites passwd in place
// after cfgpull keeps its change; files mounted over /etc names are written.
#include "sim_module.h"

#include "settings/image.h"
#include "bootenv/uboot_env.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
// Longer than the new passwd: a run cut before the truncation leaves a tail.
const std::string kOldPasswd = "old:x:7:7:" + std::string(400, 'o') + ":/:/bin/sh\n" + kKeptPasswd;

ino_t inode(const SimModule &m, const std::string &path)
{
    struct stat st {};
    ::stat(m.at(path).c_str(), &st);
    return st.st_ino;
}

// The sample image; `flip` damages a byte the load corrects, so that it stores the image.
std::string raw_of(bool flip, const char *enclosure = "Rack7-Encl2")
{
    std::vector<std::uint8_t> image = sample_image(), raw(kRawImageSize);
    settings::set_text(image.data(), settings::F("enclosureName"), enclosure);
    encode_image(image.data(), raw.data());
    raw[300] ^= flip ? 0x21 : 0;
    return {raw.begin(), raw.end()};
}

// The temporary files and copies below /etc.
std::string leftovers(const SimModule &m)
{
    std::string names;
    for (const auto &e : fs::recursive_directory_iterator(m.at("/etc")))
        if (std::string name = e.path().filename(); name.ends_with(".tmp") || name.ends_with(".new") || name.ends_with(".pending"))
            names += name + " ";
    return names;
}

struct Scenario {
    std::string name;
    std::vector<std::string> cmd;
    const char *signal;                    // TERM also proves the temporary file goes
    std::function<void(SimModule &)> arm;  // the state before the run
    std::vector<std::string> files;        // each wholly old or wholly new
    std::string calls = "write,pwrite64,ftruncate,fsync,fdatasync,rename,renameat,renameat2";
    std::string recovered = "";            // exact, same inode, after one more run
};

std::vector<Scenario> scenarios(const SimModule &m)
{
    const std::vector<std::string> etc = {"/etc/wrenconf", "/etc/netconf", "/etc/snmp/snmpd.conf", "/etc/group",
                                          "/etc/bladesig", "/etc/urb.conf", "/etc/firmwaremgmt.conf",
                                          "/etc/KAT.info", "/dev/env"};
    // A killed run's record of its device write would finish that write in the next run.
    auto images = [](SimModule &s) {
        s.write("/data/env", raw_of(false));
        s.write("/dev/env", raw_of(false));
        fs::remove(s.at("/etc/.env.pending"));
    };
    auto module = [etc](SimModule &s) {
        for (const std::string &f : etc)
            s.write(f, "old " + f + "\n");
        s.write("/etc/passwd", kOldPasswd);
        s.write("/dev/env", raw_of(true));
        fs::remove(s.at("/etc/.env.pending"));
    };
    auto linked = [module](SimModule &s) {  // group is written in place too
        module(s);
        fs::remove(s.at("/group-link"));
        fs::create_hard_link(s.at("/etc/group"), s.at("/group-link"));
    };
    auto cut = [linked](SimModule &s) {  // killed at the write over passwd, after its copy
        linked(s);
        traced(s, "inject=pwrite64:signal=KILL:when=1", {bin_path("cfgpull"), "-u"});
    };
    std::string passwd_calls = "write,pwrite64,fallocate,ftruncate,fsync,rename,renameat,renameat2,unlink,unlinkat,openat";
    std::string cfgimage = bin_path("cfgimage");
    return {
        {"cfgpull -a", {bin_path("cfgpull"), "-a"}, "KILL", module, etc},
        {"cfgpull -u", {bin_path("cfgpull"), "-u"}, "KILL", linked, {"/etc/group"}, passwd_calls, "/etc/passwd"},
        {"cfgpull -u finishing a cut one", {bin_path("cfgpull"), "-u"}, "KILL", cut, {}, passwd_calls, "/etc/passwd"},
        {"cfgimage set, linked file", {cfgimage, "set", m.at("/images/env"), "rackName=R2"}, "TERM", images, {"/data/env"}},
        {"cfgimage set, device", {cfgimage, "set", m.at("/dev/env"), "rackName=R2"}, "KILL", images, {"/dev/env"},
         "pwrite64,fsync,unlinkat"},  // the record's calls and the device's
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
        ino_t passwd = inode(m, "/etc/passwd");
        traced(m, "trace=" + s.calls, s.cmd, log);
        for (const std::string &f : s.files)
            new_text[f] = m.read(f);
        std::string recovered = s.recovered.empty() ? "" : m.read(s.recovered);
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
                EXPECT_EQ(inode(m, "/etc/passwd"), passwd) << inject;
                if (!s.recovered.empty()) {
                    EXPECT_EQ(m.run(s.cmd[0], {s.cmd.begin() + 1, s.cmd.end()}).status, 0) << inject;
                    EXPECT_EQ(m.read(s.recovered), recovered) << "after " << inject;
                    EXPECT_EQ(leftovers(m), "") << "after " << inject;
                }
                for (const char *dir : {"/images", "/data"})  // the link, the image: no temporary file
                    EXPECT_TRUE(*s.signal != 'T' || std::distance(fs::directory_iterator(m.at(dir)), {}) == 1) << inject;
            }
        EXPECT_GT(points, 0);
        std::cout << s.name << ": " << points << " kill points\n";
    }
    // A complete run takes up what killed runs left beside the files.
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    EXPECT_EQ(leftovers(m), "");
}

// Other writers of the account files lock passwd and rewrite it in place:
// one that opened it before a run and gets the lock after it has the file
// cfgpull wrote, and its change is the next run's kept password.
TEST(Crash, APeerWaitingOnThePasswdLockKeepsItsChange)
{
    SimModule m;
    m.write("/proc/sys/crypto/fips_enabled", "0\n");
    m.write("/dev/env", raw_of(false));
    m.write("/etc/passwd", kOldPasswd);
    int peer = ::open(m.at("/etc/passwd").c_str(), O_RDWR);
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);
    ASSERT_EQ(::flock(peer, LOCK_EX), 0);
    std::string text(65536, '\0');
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(peer, text.data(), text.size(), 0))));
    ASSERT_NE(text.find("$5$kept$Hash"), std::string::npos) << text;
    text.replace(text.find("$5$kept$Hash"), 12, "$5$peer");
    ASSERT_EQ(::pwrite(peer, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    ASSERT_EQ(::ftruncate(peer, static_cast<off_t>(text.size())), 0);
    ::close(peer);
    ASSERT_EQ(m.read("/etc/passwd"), text);
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);
    EXPECT_NE(m.read("/etc/passwd").find("kstuser_:$5$peer:101:"), std::string::npos) << m.read("/etc/passwd");
}

// Every file below /etc by inode and modification time.
std::map<std::string, std::pair<ino_t, long>> etc_files(const SimModule &m)
{
    std::map<std::string, std::pair<ino_t, long>> files;
    for (const auto &e : fs::recursive_directory_iterator(m.at("/etc"))) {
        struct stat st {};
        ::stat(e.path().c_str(), &st);
        files[e.path().filename()] = {st.st_ino, st.st_mtim.tv_sec * 1000000000L + st.st_mtim.tv_nsec};
    }
    return files;
}

// A boot with nothing changed writes nothing, so the flash does not wear:
// no rename, sync or truncation, each file its inode and time. A changed
// field rewrites the file that shows it: two renamed into /etc, passwd
// written over after its copy, each synced, and /etc synced once at the end.
TEST(Crash, AnUnchangedBootWritesNothingAndAChangedFieldOnlyItsFile)
{
    SimModule m;
    if (*CFG_EMULATOR != '\0' || m.run("/usr/bin/strace", {"-qq", "true"}).status != 0)
        GTEST_SKIP() << "strace is missing, may not trace here, or would trace the emulator";
    m.make_blank();
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);  // the factory defaults
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    auto before = etc_files(m);
    std::string log = (m.root() / "strace.log").string();
    traced(m, "trace=rename,renameat,renameat2,fsync,fdatasync,ftruncate", {bin_path("cfgpull"), "-a"}, log);
    EXPECT_EQ(m.read("/strace.log"), "");
    EXPECT_EQ(etc_files(m), before);
    ASSERT_EQ(m.run("cfgimage", {"set", m.at("/dev/env"), "rackName=R2", "ntpServer1=192.0.2.7", "userGecos[0]=Chief"})
                  .status,
              0);
    traced(m, "trace=renameat,fsync", {bin_path("cfgpull"), "-a"}, log);
    std::string calls = m.read("/strace.log");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 3 + 6) << calls;  // the copy: renamed, synced, its folder too
    auto after = etc_files(m);
    for (const auto &[name, stamp] : before)
        EXPECT_EQ(after[name] != stamp, name == "wrenconf" || name == "netconf" || name == "passwd") << name;
}

// A failure inside the write over passwd (the disk full at the reservation
// or the write, the cut failing) puts the old text back and says so; where
// the sync or even the putting back fails, the copy beside it lets the next
// run finish the work.
TEST(Crash, AFailedWriteOverPasswdLeavesItsOldTextOrItsCopy)
{
    SimModule m;
    if (*CFG_EMULATOR != '\0' || m.run("/usr/bin/strace", {"-qq", "true"}).status != 0)
        GTEST_SKIP() << "strace is missing, may not trace here, or would trace the emulator";
    m.write("/proc/sys/crypto/fips_enabled", "0\n");
    m.write("/dev/env", raw_of(false));
    const struct {
        const char *fault;
        const std::string &old;  // shorter than the new text: its space is reserved
        bool copy_stays;
    } rows[] = {{"fallocate:error=ENOSPC", kKeptPasswd, false}, {"pwrite64:error=ENOSPC:when=1", kKeptPasswd, false},
                {"ftruncate:error=EIO", kOldPasswd, false},     {"fsync:error=EIO:when=3", kKeptPasswd, true},
                {"pwrite64:error=EIO", kKeptPasswd, true}};
    for (const auto &row : rows) {
        m.write("/etc/passwd", row.old);
        EXPECT_EQ(traced(m, std::string("inject=") + row.fault, {bin_path("cfgpull"), "-u"}), 1) << row.fault;
        EXPECT_EQ(m.exists("/etc/.passwd.new"), row.copy_stays) << row.fault;
        EXPECT_TRUE(row.copy_stays || m.read("/etc/passwd") == row.old) << row.fault;
        EXPECT_EQ(m.run("cfgpull", {"-u"}).status, 0);
        EXPECT_NE(m.read("/etc/passwd").find(kKeptPasswd), std::string::npos) << row.fault;
    }
}

// One failing call on one path (strace -P), a row each: the run says what
// failed, with its status, and the file it was writing keeps its bytes. A
// directory whose sync after a rename fails is no success either.
struct Injection {
    std::vector<std::string> cmd;  // a built program and its arguments; a word starting with / is a module path
    const char *path;              // the module path whose calls fail
    const char *fault;             // SYSCALL:error=ERRNO
    int status;
    const char *says;              // on either stream, or in syslog
    const char *kept = "";         // a module path that keeps its bytes
};

TEST(Crash, EachInjectedFailureIsReportedWithItsStatus)
{
    SimModule m;
    if (*CFG_EMULATOR != '\0' || m.run("/usr/bin/strace", {"-qq", "true"}).status != 0)
        GTEST_SKIP() << "strace is missing, may not trace here, or would trace the emulator";
    const char sync[] = "Can't sync the directories of the configuration files: Input/output error",
               wrenconf[] = "Can't write enclosure configuration file: Input/output error";
    const std::vector<Injection> rows = {
        {{"cfgpull", "-e"}, "/etc", "fsync:error=EIO", 1, sync},
        {{"cfgpull", "-e"}, "/etc/.wrenconf.tmp", "fsync:error=EIO", 1, wrenconf, "/etc/wrenconf"},
        {{"cfgpull", "-e"}, "/etc", "renameat:error=EIO", 1, wrenconf, "/etc/wrenconf"},
        {{"cfgpull", "-e"}, "/dev/env", "read:error=EIO", 1, "Error reading from NVRAM", "/etc/wrenconf"},
        {{"cfgpull", "-A"}, "/dev/env", "pwrite64:error=EIO", 255, "Write to /dev/env failed", "/dev/env"},
        {{"cfgimage", "new", "/ramdisk/new.bin"}, "/ramdisk", "fsync:error=EIO", 1, "cannot write: Input/output error"},
        {{"cfgimage", "set", "/dev/env", "rackName=Traced"}, "/etc/.env.pending", "fsync:error=EIO", 0,
         "Writing /dev/env without a record of the write: /etc/.env.pending: Input/output error"},
    };
    m.make_blank();
    ASSERT_EQ(m.run("cfgpull", {"-a"}).status, 0);
    for (const Injection &row : rows) {
        SCOPED_TRACE(row.cmd[1] + " " + row.path + " " + row.fault);
        // A new rack name, so that the files have something to write.
        std::string rack = "rackName=R" + std::to_string(&row - &rows[0]);
        ASSERT_EQ(m.run("cfgimage", {"set", m.at("/dev/env"), rack}).status, 0);
        std::string kept = *row.kept ? m.read(row.kept) : "";
        std::vector<std::string> args = {"-f", "-qq", "-o", "/dev/null", "-P", m.at(row.path),
                                         "-e", std::string("inject=") + row.fault, "--", bin_path(row.cmd[0])};
        for (auto word = row.cmd.begin() + 1; word != row.cmd.end(); ++word)
            args.push_back(word->starts_with('/') ? m.at(*word).string() : *word);
        RunResult r = m.run("/usr/bin/strace", args, -1, 60, {"ASAN_OPTIONS=detect_leaks=0"});  // LSan cannot trace
        EXPECT_EQ(r.status, row.status);
        EXPECT_NE((r.out + r.err + m.read("/sim/syslog")).find(row.says), std::string::npos) << r.out << r.err;
        EXPECT_EQ(*row.kept ? m.read(row.kept) : "", kept);
    }
}

// A script run as root in a private mount namespace, with the module's root
// and the cfgpull command as $1 and $2.
RunResult unshared(const SimModule &m, const char *script)
{
    m.write("/proc/sys/crypto/fips_enabled", "0\n");
    m.write("/dev/env", raw_of(false));
    std::string cfgpull = (*CFG_EMULATOR ? std::string(CFG_EMULATOR) + " " : "") + bin_path("cfgpull");
    return m.run("/usr/bin/unshare", {"-m", "sh", "-c", script, "sh", m.root().string(), cfgpull});
}

// A read-only root with writable files mounted over /etc names: a rename
// cannot replace them (EBUSY), so they are written in place.
TEST(Crash, FilesMountedOverEtcNamesAreWritten)
{
    SimModule m;
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to bind-mount files in a private mount namespace";
    RunResult r = unshared(m, R"(R=$1; mkdir "$R/outside"
for f in passwd snmp/snmpd.conf; do
    echo old >"$R/outside/${f#*/}"; touch "$R/etc/$f"; mount --bind "$R/outside/${f#*/}" "$R/etc/$f" || exit 99
done
$2 -a; echo $? >"$R/status")");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.read("/status"), "0\n") << r.err;
    EXPECT_TRUE(m.read("/outside/passwd").starts_with("wren:x:0:0:")) << m.read("/outside/passwd");
    EXPECT_TRUE(m.read("/outside/snmpd.conf").starts_with("syslocation ")) << m.read("/outside/snmpd.conf");
}

// A full /etc: a text that needs more blocks than its file has leaves the
// old file; one that fits in them is written in place (passwd without its
// copy), the same-length change of a name as much as passwd's.
TEST(Crash, AFullDiskKeepsTheOldTextOrWritesInPlace)
{
    SimModule m;
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs in a private mount namespace";
    m.write("/long", "wren:x:0:0:0,,:/:/bin/false\nkstuser_:" + std::string(3900, 'k') + ":101:2:0,,:/:/bin/false\n");
    m.write("/env2", raw_of(false, "Rack8-Encl2"));
    const char script[] = R"(R=$1; E=$R/etc; fill() { dd if=/dev/zero of="$E/fill" bs=1k 2>/dev/null; }
mount -t tmpfs -o size=32k tmpfs "$E" || exit 99
mkdir "$E/snmp" && $2 -e && cp "$R/long" "$E/passwd" && fill
$2 -u; echo $? >"$R/status"; cp "$E/passwd" "$R/full"
rm "$E/fill"; $2 -u && cp "$E/passwd" "$R/freed" && sed -i 's/Default User/Default Usxr/' "$E/passwd"
cp "$R/env2" "$R/dev/env"; fill; $2 -eu; echo $? >>"$R/status"; cp "$E/passwd" "$E/wrenconf" "$R"; ls -A "$E" >"$R/listing")";
    RunResult r = unshared(m, script);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(m.read("/status"), "1\n0\n");
    EXPECT_EQ(r.err, "Can't write user/passwords to system file: No space left on device\n");
    EXPECT_EQ(m.read("/full"), m.read("/long"));
    EXPECT_NE(m.read("/freed").find(std::string(3900, 'k')), std::string::npos) << m.read("/freed");
    EXPECT_EQ(m.read("/passwd"), m.read("/freed"));
    EXPECT_NE(m.read("/wrenconf").find("Rack8-Encl2"), std::string::npos) << m.read("/wrenconf");
    EXPECT_EQ(m.read("/listing"), "fill\ngroup\npasswd\nsnmp\nwrenconf\n");
    EXPECT_NE(m.syslog().find("/etc/passwd written in place without its copy"), std::string::npos) << m.syslog();
}

// The programs killed at their first write to a device, when the record of
// the write is durable: whatever the power cut left of the device (a tear
// at sampled bytes), the next boot finishes the write.
TEST(Crash, ADeviceWriteKilledAndTornIsFinishedByTheNextBoot)
{
    SimModule m;
    if (*CFG_EMULATOR != '\0' || m.run("/usr/bin/strace", {"-qq", "true"}).status != 0)
        GTEST_SKIP() << "strace is missing, may not trace here, or would trace the emulator";
    m.make_blank();
    std::vector<std::uint8_t> v30 = sample_image(), v19200 = sample_image();
    settings::set_u(v30.data(), settings::F("version"), 30);
    settings::set_i(v19200.data(), settings::F("baudRate"), 19200);
    const struct {
        std::vector<std::string> cmd;
        std::vector<std::uint8_t> image;
        const RecordedDevice &device;
    } cuts[] = {
        {{bin_path("cfgpull"), "-s", "-a"}, v30, kEnvDevice},
        {{bin_path("cfgimage"), "set", m.at("/dev/env"), "userPasswordHash[10]=$1$new$hash"}, sample_image(), kEnvDevice},
        {{bin_path("cfgpull"), "-e"}, v19200, kUbootDevice},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.cmd[1]);
        std::vector<std::uint8_t> raw(kRawImageSize);
        encode_image(std::vector<std::uint8_t>(c.image).data(), raw.data());
        m.write_bytes("/dev/env", raw);
        m.write("/sim/console_baudrate", "9600\n");
        std::vector<std::string> strace = {"-f", "-qq", "-o", "/dev/null", "-P", m.at(c.device.path).string(),
                                           "-e", "inject=pwrite64:signal=KILL:when=1", "--"};
        strace.insert(strace.end(), c.cmd.begin(), c.cmd.end());
        ASSERT_GT(m.run("/usr/bin/strace", strace, -1, 60).status, 128);
        std::vector<std::uint8_t> record = m.read_bytes(c.device.record());
        std::optional<Record> r = decode_record(record, c.device.size);
        ASSERT_TRUE(r);
        // The console at the stored rate: the boots have no rate to change.
        m.write("/sim/console_baudrate", &c.device == &kUbootDevice ? "19200\n" : "9600\n");
        for (std::size_t k : {std::size_t{0}, std::size_t{1}, r->old.size() / 3, r->old.size() - 1}) {
            std::vector<std::uint8_t> torn = r->next;
            std::copy(r->old.begin() + static_cast<std::ptrdiff_t>(k), r->old.end(), torn.begin() + static_cast<std::ptrdiff_t>(k));
            m.write_bytes(c.device.path, torn);
            m.write_bytes(c.device.record(), record);
            EXPECT_EQ(m.run("cfgpull", {"-a"}).status, 0) << k;
            EXPECT_EQ(m.read_bytes(c.device.path), r->next) << k;
            EXPECT_FALSE(m.exists(c.device.record())) << k;
        }
        // A device that refuses the finishing write: the run fails, the record stays for the next.
        m.write_bytes(c.device.path, r->old);
        m.write_bytes(c.device.record(), record);
        EXPECT_EQ(m.run("cfgpull", {"-a"}, 512).status, 255);
        EXPECT_TRUE(m.exists(c.device.record()));
        EXPECT_EQ(m.run("cfgpull", {"-a"}).status, 0);
        EXPECT_EQ(m.read_bytes(c.device.path), r->next);
    }
}
