// The account, directory, bay, blade-signature and scheduling files, end to
// end in a simulated module.
#include "sim_module.h"

#include "settings/layout.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
    return image;
}

std::vector<std::uint8_t> with_group(std::vector<std::uint8_t> image)
{
    set_u(image.data(), F("ldapGroupCount"), 1);
    set_text(record(image.data(), F("ldapGroupRecords"), 0), Group("ldapGroupName"), "Admins");
    return image;
}

// A module with FIPS mode off, a user table and every file of ours present.
struct Module : SimModule {
    explicit Module(const std::vector<std::uint8_t> &image)
    {
        write("/proc/sys/crypto/fips_enabled", "0\n");
        write_image(image);
        for (const std::string &f : kFiles)
            write(f, kOld);
    }
    Module() : Module(with_group(image_with(user_layout(false), {{"Administrator", "Admin", "$1$a$b", 1, 0}}))) {}

    std::set<std::string> changed() const
    {
        std::set<std::string> s;
        for (const std::string &f : kFiles)
            if (read(f) != kOld)
                s.insert(f);
        return s;
    }
};

// Every entry the C library parses, as "name:password:uid:gid:gecos:dir:shell".
std::vector<std::string> parsed_passwd(const SimModule &m, std::size_t &lines)
{
    std::string text = m.read("/etc/passwd");
    lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    std::vector<std::string> entries;
    FILE *f = std::fopen(m.at("/etc/passwd").c_str(), "r");
    while (struct passwd *pw = ::fgetpwent(f))
        entries.push_back(std::string(pw->pw_name) + ":" + pw->pw_passwd + ":" +
                          std::to_string(pw->pw_uid) + ":" + std::to_string(pw->pw_gid) + ":" +
                          pw->pw_gecos + ":" + pw->pw_dir + ":" + pw->pw_shell);
    std::fclose(f);
    return entries;
}

} // namespace

TEST(Options, EachWritesExactlyItsFiles)
{
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
        {"-a", {"/etc/passwd", "/etc/group", "/etc/bladesig", "/etc/urb.conf",
                "/etc/firmwaremgmt.conf", "/etc/KAT.info"}},
        {"-A", {"/etc/passwd", "/etc/group", "/etc/bladesig", "/etc/urb.conf",
                "/etc/firmwaremgmt.conf", "/etc/KAT.info"}},
    };
    for (const auto &[option, files] : cases) {
        Module m;
        RunResult r = m.run("cfgpull", {option});
        EXPECT_EQ(r.status, 0) << option << r.err;
        EXPECT_EQ(m.changed(), files) << option;
    }
}

TEST(Passwd, ServiceAccountFieldsAreKeptAndNoOldTailRemains)
{
    Module m;
    const std::string old_tail(3000, '#');
    m.write("/etc/passwd", "wren:x:0:0:0,,:/:/bin/false\n"
                           "mlnuser_:!$6$Zq.k/9$Ab:100:0:0,Meshlane User,:/:/bin/false\n"
                           "kstuser_::101:2:0,Kesslet User,:/:/bin/false\n"
                           "padding:x:5:5:" + old_tail + ":/:/bin/false\n");
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);
    EXPECT_EQ(m.read("/etc/passwd"),
              "wren:x:0:0:0,,:/:/bin/false\n"
              "nobody:x:99:3:0,Default User,:/:/bin/false\n"
              "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli\n"
              "Administrator:$1$a$b:1:0:Admin:/:/usr/bin/cli\n"
              "mlnuser_:!$6$Zq.k/9$Ab:100:0:0,Meshlane User,:/:/bin/false\n"
              "kstuser_::101:2:0,Kesslet User,:/:/bin/false\n");
    EXPECT_EQ(m.calls(), "lock_file_rw\nunlock_file\n");
    EXPECT_NE(m.syslog().find("<134> cfgpull: [0] - Administrator:-:1:0:Admin:/:/usr/bin/cli"),
              std::string::npos);

    m.write("/etc/passwd", "");  // no service entries: the "x" forms
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);
    EXPECT_NE(m.read("/etc/passwd").find("\nmlnuser_:x:100:0:"), std::string::npos);
    EXPECT_NE(m.read("/etc/passwd").find("\nkstuser_:x:101:2:"), std::string::npos);
}

TEST(Passwd, ReadBackWithTheSystemParsers)
{
    Module m(image_with(user_layout(false),
                        {{"Administrator", "Admin, Main", "$1$a$b", 7, 3},
                         {"beta", "", "$1$c$d", 1000, 1},
                         {"x::0:0::/:/bin/sh\nevil", "", "h", 1001, 0},
                         {"gamma", "G", "$1$e:f", 1002, 2},
                         {"a,b", "", "h", 1003, 0},
                         {"delta", "", "", 1004, 3}}));
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);

    std::size_t lines = 0;
    std::vector<std::string> entries = parsed_passwd(m, lines);
    EXPECT_EQ(entries.size(), lines);
    EXPECT_EQ(entries, (std::vector<std::string>{
                           "wren:x:0:0:0,,:/:/bin/false",
                           "nobody:x:99:3:0,Default User,:/:/bin/false",
                           "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli",
                           "Administrator:$1$a$b:1:0:Admin, Main:/:/usr/bin/cli",
                           "beta:$1$c$d:1000:1::/:/usr/bin/cli",
                           "delta::1004:3::/:/usr/bin/cli",
                           "mlnuser_:x:100:0:0,Meshlane User,:/:/bin/false",
                           "kstuser_:x:101:2:0,Kesslet User,:/:/bin/false"}));

    std::string text = m.read("/etc/group");
    std::size_t group_lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    FILE *f = std::fopen(m.at("/etc/group").c_str(), "r");
    std::map<std::string, std::vector<std::string>> members;
    std::vector<gid_t> gids;
    while (struct group *g = ::fgetgrent(f)) {
        gids.push_back(g->gr_gid);
        for (char **p = g->gr_mem; *p; ++p)
            members[g->gr_name].push_back(*p);
    }
    std::fclose(f);
    EXPECT_EQ(gids, (std::vector<gid_t>{0, 99, 0, 1, 2, 3}));
    EXPECT_EQ(gids.size(), group_lines);
    EXPECT_EQ(members["admin"], (std::vector<std::string>{"Administrator", "mlnuser_"}));
    EXPECT_EQ(members["oper"], (std::vector<std::string>{"Administrator", "beta", "mlnuser_"}));
    EXPECT_EQ(members["user"], (std::vector<std::string>{}));
    EXPECT_EQ(members["anonymous"], (std::vector<std::string>{"delta"}));

    std::string log = m.syslog();
    EXPECT_NE(log.find("<11> cfgtools: user table record 2 left out of /etc/passwd: its name holds a colon"),
              std::string::npos);
    EXPECT_NE(log.find("<11> cfgtools: user table record 3 left out of /etc/group: its password hash holds a colon"),
              std::string::npos);
    EXPECT_EQ(log.find("$1$e:f"), std::string::npos);
}

TEST(Passwd, FipsHashWithModeOffUsesTheFipsLayout)
{
    Module m(image_with(user_layout(true), {{"admin", "", "$5$s$h", 1, 0}, {"op", "", "$5$t$i", 1500, 1}}));
    ASSERT_EQ(m.run("cfgpull", {"-u"}).status, 0);
    EXPECT_NE(m.read("/etc/passwd").find("\nop:$5$t$i:1500:1::/:/usr/bin/cli\n"), std::string::npos);
    EXPECT_NE(m.read("/etc/group").find("\noper::1:admin,op,mlnuser_\n"), std::string::npos);
    std::string log = m.syslog();
    EXPECT_NE(log.find("<11> cfgtools: FIPS MODE OFF but password hash is FIPS based"), std::string::npos);
    EXPECT_NE(log.find("<11> cfgtools: write_group_settings_to_fs: FIPS MODE OFF but password hash is FIPS based"),
              std::string::npos);

    // The bay file follows the mode alone, so it reads the 122-byte stride here.
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
                                      "100=4294967295 4294967295\n101=4294967295 4294967295\n");
}

TEST(FipsMode, UnknownModeLogsAndWritesNoAccountFile)
{
    Module m;
    std::filesystem::remove(m.at("/proc/sys/crypto/fips_enabled"));
    std::filesystem::remove(m.at("/etc/passwd"));
    RunResult r = m.run("cfgpull", {"-u", "-b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(m.exists("/etc/passwd"));
    EXPECT_EQ(m.changed(), (std::set<std::string>{"/etc/passwd"}));  // only its removal
    EXPECT_EQ(m.syslog(), "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve user settings\n"
                          "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve group settings\n"
                          "<11> cfgtools: Unable to determine FIPS mode. Unable to retrieve bay config settings\n");
}
