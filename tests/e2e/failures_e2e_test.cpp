// Every failure the tool handles, caused for real in a simulated module: the
// message and its channel, the exit status, the settings lock released, and
// nothing touched that the run had no business touching.
#include "sim_module.h"

#include "bootenv/uboot_env.h"
#include "settings/layout.h"
#include "store/nvram.h"

#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using settings::F;

namespace {

const std::vector<std::string> kFiles = {
    "/etc/passwd",   "/etc/group",     "/etc/bayconf",  "/etc/bladesig",          "/etc/mlninfo",
    "/etc/ldapconf", "/etc/ldapgroup", "/etc/urb.conf", "/etc/firmwaremgmt.conf", "/etc/KAT.info",
    "/etc/wrenconf", "/etc/netconf",   "/etc/snmp/snmpd.conf"};

// A working module: board, boot loader environment, cfgpush, a clean image
// and every file of ours present with old contents.
struct Module : SimModule {
    Module()
    {
        make_blank();
        auto image = sample_image();
        settings::set_u(image.data(), F("ldapGroupCount"), 1);
        settings::set_text(settings::record(image.data(), F("ldapGroupRecords"), 0), settings::Group("ldapGroupName"), "Admins");
        write_image(image);
        for (const std::string &f : kFiles)
            write(f, "old\n");
    }

    // Module path -> what it is, for every file but the logs and the lock.
    std::map<std::string, std::string> snapshot() const
    {
        std::map<std::string, std::string> s;
        for (auto it = fs::recursive_directory_iterator(root()); it != fs::recursive_directory_iterator(); ++it) {
            std::string p = "/" + fs::relative(it->path(), root()).string();
            if (p.starts_with("/sim/calls.log") || p == "/sim/syslog" || p.starts_with("/ramdisk/") ||
                p.starts_with("/.run"))
                continue;
            if (it->is_symlink())
                s[p] = "-> " + fs::read_symlink(it->path()).string();
            else if (it->is_directory())
                s[p] = "<dir>";
            else if (it->is_regular_file())
                s[p] = read(p);
            else
                s[p] = "<special>";
        }
        return s;
    }
};

std::set<std::string> changes(const std::map<std::string, std::string> &before,
                              const std::map<std::string, std::string> &after)
{
    std::set<std::string> c;
    for (const auto &[p, v] : before)
        if (!after.contains(p) || after.at(p) != v)
            c.insert(p);
    for (const auto &[p, v] : after)
        if (!before.contains(p))
            c.insert(p);
    return c;
}

std::vector<std::uint8_t> encoded(std::vector<std::uint8_t> image)
{
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    return raw;
}

std::vector<std::uint8_t> image_with(unsigned version, std::int32_t baud = 9600)
{
    auto image = sample_image();
    image[3] = static_cast<std::uint8_t>(version);
    settings::set_i(image.data(), F("baudRate"), baud);
    return image;
}

// A boot loader environment with a correct CRC and only `free` bytes to spare.
std::vector<std::uint8_t> nearly_full_uboot(std::size_t free)
{
    std::string data = std::string("baudrate=9600\0", 14) + "bootargs=root=/dev/ram0 console=ttyS0,9600 x=";
    data.resize(1020 - free - 2, 'x');
    data += std::string("\0\0", 2);
    data.resize(1020, '\0');
    std::vector<std::uint8_t> block(UBOOT_ENV_SIZE, 0);
    std::copy(data.begin(), data.end(), block.begin() + UBOOT_ENV_DATA);
    uboot_env_store_crc(block.data());
    return block;
}

struct Row {
    std::string name;
    std::function<void(Module &)> fault;
    std::vector<std::string> args;
    int status;
    std::string out, err;              // fnmatch patterns: '*' stands for anything
    std::vector<std::string> syslog;   // lines that must be logged
    std::string debug_log;             // pattern for /ramdisk/ubootmsg.log ("" = not written)
    std::set<std::string> may_change;  // every other file stays as it was
    long file_size_limit = -1;
    std::function<void(Module &)> repair = nullptr;  // undo a fault that would stop any run
    std::function<void(Module &)> check = nullptr;   // what the failure leaves behind
};

std::vector<Row> rows();

} // namespace

TEST(Failures, EachIsReportedOnItsChannelAndReleasesTheLock)
{
    for (const Row &row : rows()) {
        SCOPED_TRACE(row.name);
        Module m;
        row.fault(m);
        auto before = m.snapshot();
        RunResult r = m.run("cfgpull", row.args, row.file_size_limit, 20);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(::fnmatch(row.out.c_str(), r.out.c_str(), 0), 0) << "stdout: " << r.out;
        EXPECT_EQ(::fnmatch(row.err.c_str(), r.err.c_str(), 0), 0) << "stderr: " << r.err;
        std::string log = "\n" + m.syslog();
        for (const std::string &line : row.syslog)
            EXPECT_NE(log.find("\n" + line + "\n"), std::string::npos) << "syslog lacks " << line << ":" << log;
        std::string debug = m.read("/ramdisk/ubootmsg.log");
        EXPECT_EQ(::fnmatch(row.debug_log.c_str(), debug.c_str(), 0), 0) << "debug log: " << debug;
        std::set<std::string> changed = changes(before, m.snapshot());
        for (const std::string &p : changed)
            EXPECT_TRUE(row.may_change.contains(p)) << p << " was touched";
        if (row.check)
            row.check(m);
        if (row.repair)
            row.repair(m);
        EXPECT_TRUE(m.lock_is_free());
    }
}

TEST(Failures, AQuoteInTheRootRunsNothingButCfgpush)
{
    SimModule m("'; echo injected >&2; '");
    m.make_blank();
    RunResult r = m.run("cfgpull", {"-e"}, -1, 20);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("injected"), std::string::npos) << r.err;
    EXPECT_EQ(m.read_image()[0], '0');  // cfgpush stored the defaults, magic "002"
}

namespace {

void replace_with_dir(Module &m, const std::string &path)
{
    fs::remove(m.at(path));
    fs::create_directory(m.at(path));
}

void link_to(Module &m, const std::string &path, const std::string &target)
{
    fs::remove(m.at(path));
    fs::create_symlink(target, m.at(path));
}

// The module's /dev/full, where every write fails with ENOSPC.
void link_to_full(Module &m, const std::string &path)
{
    ::mknod(m.at("/dev/full").c_str(), S_IFCHR | 0666, makedev(1, 7));
    link_to(m, path, "/dev/full");
}

// A copy of an executable, running: it reads, but opening it for writing
// fails with ETXTBSY.
pid_t sleeper = -1;
void running_copy(Module &m, const std::string &path)
{
    fs::copy_file("/bin/sleep", m.at(path), fs::copy_options::overwrite_existing);
    if ((sleeper = ::fork()) == 0)
        ::_exit(::execl(m.at(path).c_str(), "sleep", "60", nullptr));
    std::error_code ec;
    for (int i = 0; i < 5000 && fs::read_symlink("/proc/" + std::to_string(sleeper) + "/exe", ec) != m.at(path); ++i)
        ::usleep(1000);
}

void stop_sleeper(Module &)
{
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

// A module whose image is a factory restore away: the erased device.
void erased(Module &m)
{
    m.write_bytes("/dev/env", std::vector<std::uint8_t>(RAW_IMAGE_SIZE, 0xFF));
}

std::string text_of(Module &m, const char *field)
{
    auto image = m.read_image();
    return std::string(settings::get_text(image.data(), *settings::find_field(settings::kLayout40, field)));
}

const std::set<std::string> kRestoreTouches = {"/dev/env", "/dev/uboot"};

std::set<std::string> plus(std::set<std::string> s, std::initializer_list<std::string> more)
{
    s.insert(more);
    return s;
}

// A writer's two failures: its file replaced by a directory, and a write
// that fails (the device is full, or the file may not grow past 64 bytes).
void add_writer_rows(std::vector<Row> &rows, const std::string &option, const std::string &file,
                     const std::string &create_error, int create_status, const std::string &write_error,
                     bool efbig, std::set<std::string> written_before = {})
{
    rows.push_back({option + " " + file + " cannot be created", [=](Module &m) { replace_with_dir(m, file); },
                    {option}, create_status, "", create_error + ": Is a directory\n", {}, "", written_before});
    // The old file stays whole: nothing is cut short or left beside it.
    Row w{option + " " + file + " write fails", nullptr, {option}, 1, "", "", {}, "", written_before};
    if (efbig) {
        w.fault = [](Module &) {};
        w.file_size_limit = 64;
        w.err = write_error + ": File too large\n";
    } else {
        w.fault = [=](Module &m) { link_to_full(m, file); };
        w.err = write_error + ": No space left on device\n";
    }
    rows.push_back(w);
}

std::vector<Row> rows()
{
    std::vector<Row> r = {
        // The command line and the settings lock.
        {"unknown option", [](Module &) {}, {"-z"}, 0, "", "*invalid option -- 'z'\ncfgpull: Read settings*", {}, "", {}},
        {"lock file cannot be opened", [](Module &m) { fs::remove_all(m.at("/ramdisk")); }, {"-A"}, 255, "",
         "Failed to open env lock:No such file or directory(2)\n", {}, "", {"/ramdisk"}, -1,
         [](Module &m) { fs::create_directory(m.at("/ramdisk")); }},

        // Loading and storing /dev/env.
        {"device missing", [](Module &m) { fs::remove(m.at("/dev/env")); }, {"-e"}, 1, "Can't open /dev/env\n", "", {}, "", {}},
        {"device short",
         [](Module &m) {
             auto raw = encoded(sample_image());
             raw.resize(RAW_IMAGE_SIZE - 1);
             m.write_bytes("/dev/env", raw);
         },
         {"-e"}, 1, "Error reading from NVRAM\n", "", {}, "", {}},
        {"uncorrectable codeword",
         [](Module &m) {
             auto raw = encoded(sample_image());
             for (int i = 0; i < 40; ++i)
                 raw[255 * 5 + i] ^= 0xA5;
             m.write_bytes("/dev/env", raw);
         },
         {"-e"}, 0, "", "", {"<13> cfgtools: NVRAM block 5 failed check"}, "*", plus(kRestoreTouches, {"/etc/wrenconf"}),
         -1, nullptr, [](Module &m) { EXPECT_EQ(text_of(m, "enclosureName"), "SN0042A7731"); }},
        {"magic not accepted", erased, {"-e"}, 0, "", "", {"<13> cfgtools: NVRAM is unformatted or corrupted (FFFFFF)."},
         "*", plus(kRestoreTouches, {"/etc/wrenconf"})},
        {"version that cannot be kept", [](Module &m) { m.write_image(image_with(41)); }, {"-se"}, 0, "", "",
         {"<13> cfgtools: NVRAM format could not be preserved."}, "*", plus(kRestoreTouches, {"/etc/wrenconf"})},
        {"version too old to migrate", [](Module &m) { m.write_image(image_with(17)); }, {"-se"}, 0, "", "",
         {"<13> cfgtools: NVRAM DEBUG: New version(17) not same as LE_CURRENT_VERSION(40)",
          "<13> cfgtools: NVRAM format could not be preserved."},
         "*", plus(kRestoreTouches, {"/etc/wrenconf"})},
        {"device cannot be opened for writing", [](Module &m) { running_copy(m, "/dev/env"); }, {"-a"}, 255,
         "Can't open /dev/env\n", "", {"<11> cfgtools: NVRAM write failed: 267:26"}, "*", {"/dev/uboot"}, -1, stop_sleeper},
        {"device is a FIFO", [](Module &m) { fs::remove(m.at("/dev/env")); ::mkfifo(m.at("/dev/env").c_str(), 0600); },
         {"-e"}, 1, "Can't open /dev/env\n", "", {}, "", {}},
        {"device write fails",
         [](Module &m) {
             auto raw = encoded(sample_image());
             raw[9] ^= 0x10;  // the correction makes the load store the image
             m.write_bytes("/dev/env", raw);
         },
         {"-e"}, 255, "Correctable errors: 1, no uncorrectable errors found.\nWrite to /dev/env failed\n", "",
         {"<11> cfgtools: NVRAM write failed: 279:27"}, "", {"/dev/env"}, 4096},
        {"migrated image cannot be stored", [](Module &m) { m.write_image(image_with(39)); }, {"-se"}, 255,
         "Write to /dev/env failed\n", "", {"<13> cfgtools: Updating NVRAM version to 40.", "<11> cfgtools: NVRAM write failed: 279:27"},
         "", {"/dev/env"}, 4096, nullptr,
         [](Module &m) { EXPECT_EQ(m.syslog().find("NVRAM update complete."), std::string::npos); }},

        // The factory restore and the hardware it asks.
        {"restore: boot loader device missing", [](Module &m) { erased(m); fs::remove(m.at("/dev/uboot")); }, {"-a"}, 255, "", "",
         {}, "*Can't open /dev/uboot. No such file or directory*", {}},
        {"restore: boot loader device short",
         [](Module &m) { erased(m); m.write_bytes("/dev/uboot", std::vector<std::uint8_t>(512, 0)); }, {"-a"}, 255, "", "",
         {}, "*read_uboot_env: Error reading from NVRAM.*", {}},
        {"restore: boot loader device cannot be opened for writing",
         [](Module &m) { erased(m); running_copy(m, "/dev/uboot"); }, {"-a"}, 255, "", "", {},
         "*Bad UBOOT environment CRC value found*Can't open /dev/uboot. Text file busy*", {}, -1, stop_sleeper},
        {"restore: boot loader write fails", [](Module &m) { erased(m); link_to_full(m, "/dev/uboot"); }, {"-a"}, 255,
         "", "", {}, "*Write to /dev/uboot failed. No space left on device*", {}},
        {"restore: board type unknown",
         [](Module &m) { erased(m); fs::remove(m.at("/etc/gpio_states")); }, {"-e"}, 0, "", "*", {}, "*Failed to read the ZELMAR board type.*",
         {"/dev/env", "/etc/wrenconf"}, -1, nullptr,
         [](Module &m) {
             auto image = m.read_image();
             EXPECT_EQ(settings::get_u(image.data(), F("baudRate")), 9600u);
             EXPECT_EQ(settings::get_u(image.data(), F("sessionTimeout")), 0u);
         }},
        {"restore: identity EEPROM unreadable", [](Module &m) { erased(m); fs::remove(m.at("/sim/i2c/52")); }, {"-e"}, 0, "", "*",
         {}, "*", plus(kRestoreTouches, {"/etc/wrenconf"}), -1, nullptr,
         [](Module &m) { EXPECT_EQ(text_of(m, "zelmarName"), ""); }},
        {"restore: FRU EEPROM unreadable", [](Module &m) { erased(m); fs::remove(m.at("/sim/i2c/56")); }, {"-e"}, 0, "", "*",
         {}, "*", plus(kRestoreTouches, {"/etc/wrenconf"}), -1, nullptr,
         [](Module &m) { EXPECT_EQ(text_of(m, "enclosureName"), "ZELMAR-0050C2A1B2C3"); }},
        {"restore: no I2C bus", [](Module &m) { erased(m); fs::remove(m.at("/dev/i2c0")); }, {"-a"}, 0, "",
         "*Error:  Could not open */dev/i2c0\n*", {}, "*", {"/dev/env", "/dev/uboot", "/etc/wrenconf", "/etc/netconf",
         "/etc/snmp/snmpd.conf", "/etc/passwd", "/etc/group", "/etc/bladesig", "/etc/urb.conf", "/etc/firmwaremgmt.conf",
         "/etc/KAT.info"}},
        {"restore: cfgpush missing", [](Module &m) { erased(m); fs::remove(m.at("/usr/sbin/cfgpush")); }, {"-e"}, 0, "", "*",
         {"<13> cfgtools: NVRAM is unformatted or corrupted (FFFFFF)."}, "*", plus(kRestoreTouches, {"/etc/wrenconf"})},

        // The boot loader environment kept in line by the enclosure writer.
        {"console rate: device missing",
         [](Module &m) { m.write_image(image_with(40, 115200)); fs::remove(m.at("/dev/uboot")); }, {"-e"}, 255, "", "", {},
         "*Can't open /dev/uboot. No such file or directory*", {"/etc/wrenconf"}},
        {"console rate: bad CRC gives the default environment",
         [](Module &m) { m.write_image(image_with(40, 115200)); m.write_bytes("/dev/uboot", std::vector<std::uint8_t>(1024, 0xFF)); },
         {"-e"}, 0, "", "", {}, "*Bad UBOOT environment CRC value found*", {"/etc/wrenconf", "/dev/uboot"}},
        {"console rate: no room in the environment",
         [](Module &m) { m.write_image(image_with(40, 115200)); m.write_bytes("/dev/uboot", nearly_full_uboot(2)); }, {"-e"}, 0,
         "", "", {}, "*No room left in UBOOT environment.*", {"/etc/wrenconf"}},
        {"console rate: rate refused", [](Module &m) { m.write_image(image_with(40, 12345)); }, {"-e"}, 0, "", "", {},
         "*Invalid baudrate value found.*", {"/etc/wrenconf"}},

        // Writers that cannot learn the FIPS mode write nothing and go on.
        {"FIPS mode unknown", [](Module &m) { fs::remove(m.at("/proc/sys/crypto/fips_enabled")); }, {"-u", "-b"}, 0, "", "",
         {"<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve user settings",
          "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve group settings",
          "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve bay config settings"},
         "", {"/etc/passwd"}},
    };
    add_writer_rows(r, "-e", "/etc/wrenconf", "Can't create wrenconf file", 255, "Can't write enclosure configuration file", true);
    add_writer_rows(r, "-n", "/etc/netconf", "Can't create netconf file", 1, "Can't write net configuration file", true);
    add_writer_rows(r, "-n", "/etc/snmp/snmpd.conf", "Can't create snmpd.conf file", 1, "Can't write net configuration file",
                    false, {"/etc/netconf"});
    // Links lead to files inside the module, never out of it; a linked
    // file is replaced where it lies, keeping the link, its mode and owner.
    r.push_back({"link out of the module",
                 [](Module &m) { m.write("/outside/wrenconf", "old\n"); link_to(m, "/etc/wrenconf", m.at("/outside/wrenconf")); },
                 {"-e"}, 255, "", "Can't create wrenconf file: No such file or directory\n", {}, "", {}});
    r.push_back({"linked passwd kept as a link",
                 [](Module &m) {
                     m.write("/data/passwd", "old\n");
                     ::chmod(m.at("/data/passwd").c_str(), 0600);
                     ::chown(m.at("/data/passwd").c_str(), 1234, 5678);
                     link_to(m, "/etc/passwd", "/data/passwd");
                 },
                 {"-u"}, 0, "", "", {}, "", {"/data/passwd", "/etc/group"}, -1, nullptr, [](Module &m) {
                     struct stat st {};
                     ::stat(m.at("/data/passwd").c_str(), &st);
                     EXPECT_EQ(std::tuple(st.st_mode & 07777, st.st_uid, st.st_gid), std::tuple(0600u, 1234u, 5678u));
                 }});
    r.push_back({"-n without /etc/snmp", [](Module &m) { fs::remove_all(m.at("/etc/snmp")); }, {"-n"}, 1, "",
                 "Can't create snmpd.conf file: No such file or directory\n", {}, "", {"/etc/netconf"}});
    add_writer_rows(r, "-u", "/etc/passwd", "Can't read/write user file", 1, "Can't write user/passwords to system file", true);
    add_writer_rows(r, "-g", "/etc/group", "Can't create group file", 1, "Can't write groups to system file", false);
    add_writer_rows(r, "-b", "/etc/bayconf", "Can't create bayconf file", 1, "Can't write groups to system file", false);
    add_writer_rows(r, "-x", "/etc/bladesig", "Can't create bladesig file", 1, "Can't write to bladesig file", false);
    add_writer_rows(r, "-v", "/etc/mlninfo", "Can't create mlninfo file", 1, "Can't write to mlninfo file", false);
    add_writer_rows(r, "-l", "/etc/ldapconf", "Can't create ldapconf file", 255, "Can't write ldap configuration file", false);
    add_writer_rows(r, "-G", "/etc/ldapgroup", "Can't create ldap file", 1, "Can't write ldap users to system file", false);
    add_writer_rows(r, "-F", "/etc/firmwaremgmt.conf", "Can't create firmware management file", 1,
                    "Error writing to firmware management conf file", false);
    add_writer_rows(r, "-K", "/etc/KAT.info", "Can't create KAT info file", 1, "Error writing to KAT info file", false);
    add_writer_rows(r, "-a", "/etc/urb.conf", "Can't create urb file", 1, "Can't write urb data to system file", false,
                    {"/etc/wrenconf", "/etc/netconf", "/etc/snmp/snmpd.conf", "/etc/passwd", "/etc/group", "/etc/bladesig"});
    return r;
}

} // namespace
