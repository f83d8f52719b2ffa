// The account, directory, bay, blade-signature and scheduling files, end to
// end in a simulated module.
#include "sim_module.h"

#include "settings/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace settings;

namespace {

const std::vector<std::string> kFiles = {
    "/etc/passwd",  "/etc/group",    "/etc/bayconf",  "/etc/bladesig",
    "/etc/mlninfo", "/etc/ldapconf", "/etc/ldapgroup", "/etc/urb.conf",
    "/etc/firmwaremgmt.conf", "/etc/KAT.info"};

const std::string kOld = "old content\n";

struct User {
    std::string name, gecos, hash;
    unsigned id, privilege;
};

std::vector<std::uint8_t> image_with(const UserLayout &layout, const std::vector<User> &users)
{
    std::vector<std::uint8_t> image = sample_image();
    set_u(image.data(), F("userCount"), static_cast<unsigned>(users.size()));
    for (unsigned i = 0; i < users.size(); ++i) {
        std::uint8_t *rec = record(image.data(), layout.records, i);
        set_text(rec, layout.name, users[i].name);
        set_text(rec, layout.gecos, users[i].gecos);
        set_text(rec, layout.hash, users[i].hash);
        set_u(rec, layout.id, users[i].id);
        set_u(rec, layout.privilege, users[i].privilege);
    }
    set_u(image.data(), F("ldapGroupCount"), 1);
    set_text(record(image.data(), F("ldapGroupRecords"), 0), Group("ldapGroupName"), "Admins");
    return image;
}

// A module with FIPS mode off, a user table and every file of ours present.
struct Module : SimModule {
    explicit Module(const std::vector<std::uint8_t> &image =
                        image_with(user_layout(false), {{"Administrator", "Admin", "$1$a$b", 1, 0}}))
    {
        write("/proc/sys/crypto/fips_enabled", "0\n");
        write_image(image);
        for (const std::string &f : kFiles)
            write(f, kOld);
    }

    std::set<std::string> changed() const
    {
        std::set<std::string> s;
        for (const std::string &f : kFiles)
            if (read(f) != kOld)
                s.insert(f);
        return s;
    }

    std::size_t lines(const std::string &file) const
    {
        std::string text = read(file);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    bool logged(const std::string &line) const { return syslog().find(line + "\n") != std::string::npos; }
};

} // namespace

TEST(Options, EachWritesExactlyItsFiles)
{
    const std::set<std::string> all = {"/etc/passwd", "/etc/group", "/etc/bladesig", "/etc/urb.conf",
                                       "/etc/firmwaremgmt.conf", "/etc/KAT.info"};
    const std::map<std::string, std::set<std::string>> cases = {
        {"-u", {"/etc/passwd", "/etc/group"}},
        {"-g", {"/etc/group"}},
        {"-b", {"/etc/bayconf"}},
        {"-x", {"/etc/bladesig", "/etc/firmwaremgmt.conf"}},
        {"-v", {"/etc/mlninfo"}},
        {"-l", {"/etc/ldapconf"}},
        {"-G", {"/etc/ldapgroup"}},
        {"-F", {"/etc/firmwaremgmt.conf"}},
        {"-K", {"/etc/KAT.info"}},
        {"-a", all},
        {"-A", all},
    };
    for (const auto &[option, files] : cases) {
        Module m;
        RunResult r = m.run("cfgpull", {option});
        EXPECT_EQ(r.status, 0) << option << r.err;
        EXPECT_EQ(m.changed(), files) << option;
    }
}

TEST(Passwd, ServiceFieldsKeptFromTheirOwnLinesForgedNamesLeftOutSoundAccountsKept)
{
    std::vector<std::uint8_t> image = image_with(user_layout(false), {{"Administrator", "1,Admin,Tel: 555", "$1$a$b", 1, 0},
                                                                     {" mlnuser_", "", "$1$planted", 100, 0},
                                                                     {"\twren", "", "", 0, 0},
                                                                     {"smith,j", "S\r", "$1$c:d", 1000, 2},
                                                                     {"#c", "", "h", 1001, 0}});
    set_text(record(image.data(), F("ldapGroupRecords"), 0), Group("ldapGroupDescription"), "Tel: 555");
    Module m(image);
    m.write("/etc/passwd", "wren:x:0:0:0,,:/:/bin/false\n"
                           "mlnuser_:!$6$Zq.k/9$Ab:100:0:0,Meshlane User,:/:/bin/false\n"
                           "kstuser_::101:2:0,Kesslet User,:/:/bin/false\n"
                           "padding:x:5:5:" + std::string(3000, '#') + ":/:/bin/false\n");
    for (int run = 0; run < 2; ++run)  // the second run keeps what the first one wrote
        ASSERT_EQ(m.run("cfgpull", {"-u", "-G"}).status, 0);
    EXPECT_EQ(m.read("/etc/passwd"), "wren:x:0:0:0,,:/:/bin/false\n"
                                     "nobody:x:99:3:0,Default User,:/:/bin/false\n"
                                     "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli\n"
                                     "Administrator:$1$a$b:1:0:1,Admin,Tel 555:/:/usr/bin/cli\n"
                                     "smith,j:*:1000:2:S:/:/usr/bin/cli\n"
                                     "mlnuser_:!$6$Zq.k/9$Ab:100:0:0,Meshlane User,:/:/bin/false\n"
                                     "kstuser_::101:2:0,Kesslet User,:/:/bin/false\n");
    EXPECT_EQ(m.read("/etc/ldapgroup"), "Admins:x:0:0:Tel 555:/:/usr/bin/cli\n");
    EXPECT_EQ(m.calls(), "lock_file_rw\nunlock_file\nlock_file_rw\nunlock_file\n");
    EXPECT_TRUE(m.logged("<134> cfgpull: [0] - Administrator:-:1:0:1,Admin,Tel 555:/:/usr/bin/cli"));
    EXPECT_TRUE(m.logged("<11> cfgtools: user table record 1 left out of /etc/passwd: its name starts or ends with "
                         "whitespace"));
    EXPECT_EQ(m.syslog().find("planted"), std::string::npos);
}

TEST(Passwd, FipsHashWithModeOffUsesTheFipsLayout)
{
    Module m(image_with(user_layout(true), {{"admin", "", "$5$s$h", 1, 0}, {"op", "", "$5$t$i", 1500, 1}}));
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);
    EXPECT_NE(m.read("/etc/passwd").find("\nop:$5$t$i:1500:1::/:/usr/bin/cli\n"), std::string::npos);
    EXPECT_NE(m.read("/etc/group").find("\noper::1:admin,op,mlnuser_\n"), std::string::npos);
    EXPECT_TRUE(m.logged("<11> cfgtools: FIPS MODE OFF but password hash is FIPS based"));
    EXPECT_TRUE(m.logged("<11> cfgtools: write_group_settings_to_fs: FIPS MODE OFF but password hash is FIPS based"));

    // The bay file follows the mode alone, so it reads the FIPS stride only in FIPS mode.
    m.write("/proc/sys/crypto/fips_enabled", "1\n");
    ASSERT_EQ(m.run("cfgpull", {"-b"}).status, 0);
    EXPECT_NE(m.read("/etc/bayconf").find("1500=0 0\n"), std::string::npos);
}

TEST(Bayconf, ReadsRecordZeroAsStoredAfterTheUserFiles)
{
    std::vector<std::uint8_t> image = image_with(user_layout(false), {{"admin", "", "h", 7, 3}});
    set_u(record(image.data(), F("userRecords"), 0), UserStd("userBayMask1"), 11);
    set_u(image.data(), F("userBayMask2"), 12, 0);
    Module m(image);
    ASSERT_EQ(m.run("cfgpull", {"-u", "-b"}).status, 0);
    EXPECT_EQ(m.read("/etc/bayconf"), "7=11 12\n0=4294967295 4294967295\n"
                                      "100=4294967295 4294967295\n101=4294967295 4294967295\n0=0 0\n");
}

TEST(FipsMode, UnknownModeLogsAndWritesNoAccountFile)
{
    Module m;
    std::filesystem::remove(m.at("/proc/sys/crypto/fips_enabled"));
    std::filesystem::remove(m.at("/etc/passwd"));
    EXPECT_EQ(m.run("cfgpull", {"-u", "-b"}).status, 0);
    EXPECT_FALSE(m.exists("/etc/passwd"));
    EXPECT_EQ(m.changed(), (std::set<std::string>{"/etc/passwd"}));  // only its removal
    EXPECT_EQ(m.syslog(), "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve user settings\n"
                          "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve group settings\n"
                          "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve bay config settings\n");
}
