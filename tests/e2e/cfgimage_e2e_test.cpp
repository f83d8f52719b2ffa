// cfgimage end to end: image files prepared in a simulated module, and the
// rendered files against what cfgpull writes there from the same image; the
// help of both programs.
#include "sim_module.h"

#include "settings/layout.h"
#include "store/nvram.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>

using namespace settings;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> encoded(std::vector<std::uint8_t> image)
{
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(image.data(), raw.data());
    return raw;
}

std::vector<std::uint8_t> image_at(unsigned version)
{
    std::vector<std::uint8_t> image = sample_image();
    set_u(image.data(), F("version"), version);
    return image;
}

// Users, directory groups, addresses and raw blocks: something in every file.
std::vector<std::uint8_t> busy_image(bool fips)
{
    std::vector<std::uint8_t> image = sample_image();
    const UserLayout &users = user_layout(fips);
    struct User {
        const char *name, *hash;
        unsigned id, privilege;
    };
    const User list[] = {{"Administrator", fips ? "$5$s$h" : "ab01FAKEhash", 1, 0},
                         {"oper1", "cd02FAKEhash", 20, 1},
                         {"viewer", "ef03FAKEhash", 21, 2},
                         {"mlnuser_", "skipped", 22, 0}};
    set_u(image.data(), F("userCount"), 4);
    for (unsigned i = 0; i < 4; ++i) {
        std::uint8_t *rec = record(image.data(), users.records, i);
        set_text(rec, users.name, list[i].name);
        set_text(rec, users.gecos, "comment");
        set_text(rec, users.hash, list[i].hash);
        set_u(rec, users.id, list[i].id);
        set_u(rec, users.privilege, list[i].privilege);
        set_u(rec, users.bayMask1, 0x0F0F0000u + i);
    }
    set_u(image.data(), F("ldapGroupCount"), 1);
    std::uint8_t *group = record(image.data(), F("ldapGroupRecords"), 0);
    set_text(group, Group("ldapGroupName"), "Admins");
    set_u(group, Group("ldapGroupId"), 5001);
    set_text(image.data(), F("trapReceivers"), "192.0.2.9", 2);
    set_text(image.data(), F("rocommunity"), "public");
    image[F("ipAddress").offset] = 10;
    image[F("ipv6StaticDefaultGateway").offset] = 0xfe;
    set_u(image.data(), F("bladeSignatures2"), 0xCAFEF00Du, 3);
    image[F("mlnInfo").offset + 100] = 0x5A;
    set_text(image.data(), F("urbUrl"), "https://collector.example/in");
    set_u(image.data(), F("KAT_error_reboot_counter"), 3);
    return image;
}

const char kPasswd[] = "mlnuser_:$1$kept$M:100:0:0,Meshlane User,:/:/bin/false\n"
                       "kstuser_:$1$kept$K:101:2:0,Kesslet User,:/:/bin/false\n";

// Every regular file under module directory `dir` with its content, but
// the runner's own output.
std::map<std::string, std::string> tree(const SimModule &m, const std::string &dir)
{
    std::map<std::string, std::string> files;
    fs::path top = dir == "/" ? m.root() : m.at(dir);
    for (const auto &e : fs::recursive_directory_iterator(top)) {
        std::string name = fs::relative(e.path(), top).string();
        if (e.is_regular_file() && !name.starts_with(".run."))
            files[name] = m.read((dir == "/" ? dir : dir + "/") + name);
    }
    return files;
}

unsigned mode_of(const fs::path &p)
{
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 0777;
}

// One line on standard error and nothing else.
bool one_line(const RunResult &r)
{
    return !r.err.empty() && r.err.find('\n') == r.err.size() - 1;
}

// cfgimage with no simulated module at all; standard error goes to /err.
int without_root(const SimModule &m, const std::string &args)
{
    std::string line = "env -u CFGPULL_SIM_ROOT " + std::string(CFG_EMULATOR) + " " + bin_path("cfgimage") + " " +
                       args + " 2>" + m.at("/err").string();
    return WEXITSTATUS(std::system(line.c_str()));
}

} // namespace

TEST(LongOptions, AnsweredBeforeTheLockWithoutTouchingTheModule)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
        bool locked;
    };
    const std::string usage = "cfgpull: Read settings from NVRAM and store in fs\n";
    const Case cases[] = {
        {{"--help"}, 0, usage, "", false},
        {{"--version"}, 0, "cfgpull " CFGPULL_VERSION "\n", "", false},
        {{"--all"}, 64, "", "cfgpull: unknown option --all\n" + usage, false},
        {{"-a", "--help"}, 0, usage, "", false},  // before any option acts
        {{"--", "--help"}, 0, "", "", true},       // after "--", an operand
    };
    for (const Case &c : cases) {
        SimModule m;
        m.make_blank();
        auto before = tree(m, "/");
        RunResult r = m.run("cfgpull", c.args);
        std::string args = ::testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << args;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << args;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << args;
        EXPECT_EQ(m.exists("/ramdisk/.env_lock"), c.locked) << args;
        auto after = tree(m, "/");
        after.erase("ramdisk/.env_lock");
        EXPECT_TRUE(after == before) << args;
    }
}

TEST(CfgimageHelp, WhereUsersLookAndOnlyListedStatuses)
{
    SimModule m;
    const std::pair<std::vector<std::string>, std::string> asked[] = {
        {{"help"}, "usage: cfgimage show [--json]"},       {{"--help"}, "usage: cfgimage show [--json]"},
        {{"help", "render"}, "usage: cfgimage render [--force]"}, {{"render", "--help"}, "usage: cfgimage render"},
        {{"--version"}, "cfgimage " CFGPULL_VERSION "\n"},
    };
    for (const auto &[args, out] : asked) {
        RunResult r = m.run("cfgimage", args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out.substr(0, out.size()), out) << args[0];
    }
    EXPECT_EQ(m.run("cfgimage", {"help", "frob"}).status, 64);
    EXPECT_EQ(without_root(m, "check"), 5);
    EXPECT_NE(m.read("/err").find("cfgimage check IMAGE"), std::string::npos) << m.read("/err");
    EXPECT_EQ(without_root(m, "show"), 1);
}

class RenderAgainstCfgpull : public ::testing::TestWithParam<bool> {};

TEST_P(RenderAgainstCfgpull, SameBytesAndModesAndNothingElseTouched)
{
    bool fips = GetParam();
    SimModule m;
    m.write("/proc/sys/crypto/fips_enabled", fips ? "1\n" : "0\n");
    m.write_image(busy_image(fips));
    m.write("/etc/passwd", kPasswd);
    m.write("/preview/etc/passwd", kPasswd);
    fs::create_directories(m.at("/images"));
    std::filesystem::copy_file(m.at("/dev/env"), m.at("/images/env"));

    auto before = tree(m, "/");
    std::vector<std::string> args = {"render", m.at("/images/env").string(), m.at("/preview").string()};
    if (fips)
        args.insert(args.begin() + 1, "--fips");
    RunResult rendered = m.run("cfgimage", args);
    ASSERT_EQ(rendered.status, 0) << rendered.err;

    auto after = tree(m, "/");
    for (const auto &[path, content] : before) {
        if (!path.starts_with("preview/")) {
            EXPECT_EQ(after[path], content) << path;
        }
    }
    for (const auto &[path, _] : after) {
        if (!before.count(path)) {
            EXPECT_EQ(path.rfind("preview/", 0), 0u) << path << " written outside the preview";
        }
    }

    for (const char *option : {"-a", "-b", "-v", "-l", "-G"}) {
        RunResult pulled = m.run("cfgpull", {option});
        ASSERT_EQ(pulled.status, 0) << option << pulled.err;
    }
    auto preview = tree(m, "/preview");
    EXPECT_EQ(preview.size(), 13u);
    for (const auto &[path, _] : preview) {
        std::string live = "/" + path;
        ASSERT_TRUE(m.exists(live)) << live;
        EXPECT_EQ(m.read_bytes("/preview" + live), m.read_bytes(live)) << live;
        EXPECT_EQ(mode_of(m.at("/preview" + live)), mode_of(m.at(live))) << live;
    }
    EXPECT_NE(m.read("/preview/etc/passwd").find("mlnuser_:$1$kept$M:"), std::string::npos);

    // A link anywhere below DIR is refused, not followed out of it.
    fs::create_directories(m.at("/elsewhere"));
    fs::create_directories(m.at("/linked2/etc"));
    fs::create_directories(m.at("/linked1"));
    fs::create_directory_symlink(m.at("/elsewhere"), m.at("/linked1/etc"));
    fs::create_symlink(m.at("/elsewhere/wrenconf"), m.at("/linked2/etc/wrenconf"));
    for (const char *dir : {"/linked1", "/linked2"}) {
        RunResult refused = m.run("cfgimage", {"render", m.at("/images/env").string(), m.at(dir).string()});
        EXPECT_EQ(refused.status, 1) << dir;
        EXPECT_NE(refused.err.find(": a symbolic link; refused"), std::string::npos) << refused.err;
        EXPECT_TRUE(fs::is_empty(m.at("/elsewhere"))) << dir;
    }
}

INSTANTIATE_TEST_SUITE_P(FipsOffAndOn, RenderAgainstCfgpull, ::testing::Bool());

TEST(CfgimageCheck, EachStatusOnPreparedImages)
{
    SimModule m;
    auto corrected = encoded(sample_image());
    corrected[40] ^= 0x10;
    auto broken = encoded(sample_image());
    for (int i = 0; i < 20; ++i)
        broken[255 * 30 + i] ^= 0x3C;
    const std::pair<std::vector<std::uint8_t>, int> cases[] = {
        {encoded(sample_image()), 0},
        {corrected, 1},
        {broken, 2},
        {encoded(std::vector<std::uint8_t>(IMAGE_SIZE, 0)), 3},
        {encoded(image_at(39)), 4},
    };
    for (const auto &[raw, status] : cases) {
        m.write_bytes("/images/x", raw);
        RunResult r = m.run("cfgimage", {"check", m.at("/images/x").string()});
        EXPECT_EQ(r.status, status) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_EQ(m.read_bytes("/images/x"), raw);
    }
    EXPECT_EQ(m.run("cfgimage", {"check", m.at("/images/missing").string()}).status, 5);
    ::mkfifo(m.at("/images/fifo").c_str(), 0600);  // refused at once, never waited on
    for (const char *unusual : {"/images/fifo", "/images"})
        EXPECT_EQ(m.run("cfgimage", {"check", m.at(unusual).string()}, -1, 10).status, 5) << unusual;
    m.write_bytes("/images/short", std::vector<std::uint8_t>(100, 0));
    EXPECT_EQ(m.run("cfgimage", {"check", m.at("/images/short").string()}).status, 5);

    // Without an image: the module's own device.
    m.write_bytes("/dev/env", corrected);
    RunResult own = m.run("cfgimage", {"check"});
    EXPECT_EQ(own.status, 1);
    EXPECT_NE(own.out.find(m.at("/dev/env").string()), std::string::npos);
}

TEST(CfgimageSet, RoundTripsThroughGetAndShowJson)
{
    SimModule m;
    m.write_bytes("/images/env", encoded(busy_image(false)));
    ::chmod(m.at("/images/env").c_str(), 0600);
    ::chown(m.at("/images/env").c_str(), 1234, 5678);
    fs::create_hard_link(m.at("/images/env"), m.at("/images/hard"));
    fs::create_symlink("env", m.at("/images/link"));
    std::string image = m.at("/images/env").string();
    RunResult set = m.run("cfgimage", {"set", m.at("/images/link"), "enclosureName=Lab rack 3", "nicSpeed=-10", "ipAddress=192.0.2.77",
                                       "ipv6StaticRouteGateway[1]=2001:db8::5", "userName[2]=auditor",
                                       "userBayMask2[2]=0x1F", "ldapGroupPrivilege[0]=3", "cac=1",
                                       "solutionsID=0102030405060708"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(mode_of(image), 0600u);
    struct stat st {};
    ::stat(image.c_str(), &st);
    EXPECT_EQ(st.st_uid * 10000 + st.st_gid, 1234u * 10000 + 5678u);
    EXPECT_TRUE(fs::is_symlink(m.at("/images/link")));
    EXPECT_EQ(m.read_bytes("/images/hard"), m.read_bytes("/images/env"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m.at("/images")), {}), 3) << "a temporary file was left behind";

    RunResult got = m.run("cfgimage", {"get", image, "enclosureName", "nicSpeed", "ipv6StaticRouteGateway[1]",
                                       "userName[2]", "userBayMask2[2]", "cac"});
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, "Lab rack 3\n-10\n2001:0db8:0000:0000:0000:0000:0000:0005\nauditor\n0x1F\n1\n");

    RunResult shown = m.run("cfgimage", {"show", "--json", image});
    ASSERT_EQ(shown.status, 0) << shown.err;
    auto doc = nlohmann::json::parse(shown.out);
    EXPECT_EQ(doc["decode"]["correctedBytes"], 0);
    EXPECT_EQ(doc["fields"]["enclosureName"], "Lab rack 3");
    EXPECT_EQ(doc["fields"]["nicSpeed"], -10);
    EXPECT_EQ(doc["fields"]["ipAddress"], "192.0.2.77");
    EXPECT_EQ(doc["fields"]["userRecords"][2]["userName"], "auditor");
    EXPECT_EQ(doc["fields"]["userBayMask2"][2], "0x1F");
    EXPECT_EQ(doc["fields"]["ldapGroupRecords"][0]["ldapGroupPrivilege"], 3);
    EXPECT_EQ(doc["fields"]["solutionsID"], "0102030405060708");
    EXPECT_EQ(doc["bits"]["cac"], 1);
    EXPECT_TRUE(doc["fields"]["userRecords"][1]["userPasswordHash"].is_null());

    auto text = m.run("cfgimage", {"show", image});
    EXPECT_NE(text.out.find("Lab rack 3"), std::string::npos);
}

TEST(CfgimageSet, EveryRefusalLeavesTheFileAsItWas)
{
    SimModule m;
    auto broken = encoded(sample_image());
    for (int i = 0; i < 20; ++i)
        broken[255 * 2 + i] ^= 0x77;
    struct Case {
        std::vector<std::uint8_t> raw;
        std::vector<std::string> assignments;
        int status;
    };
    const auto busy = encoded(busy_image(false));
    const Case cases[] = {
        {encoded(sample_image()), {"lcdPin=1234567"}, 1},                      // width
        {encoded(sample_image()), {"usbMode=256"}, 1},                         // range
        {encoded(sample_image()), {"dns1=1.2.3.4.5"}, 1},                      // syntax
        {encoded(sample_image()), {"noSuchField=1"}, 1},                       // unknown field
        {encoded(sample_image()), {"trapReceivers[8]=x"}, 1},                  // index
        {encoded(sample_image()), {"rackName=fine", "sshFlag=x"}, 1},          // one bad of several
        {encoded(sample_image()), {"rackName"}, 64},                           // not an assignment
        {broken, {"rackName=fine"}, 1},                                        // uncorrectable
        {encoded(image_at(39)), {"rackName=fine"}, 1},                         // another layout
        // values a writer would leave out or change
        {busy, {"userName[1]= mlnuser_"}, 1},        {busy, {"userName[2]=Administrator"}, 1},
        {busy, {"userName[1]=smith,j"}, 1},          {busy, {"userGecos[0]=Tel: 555"}, 1},
        {busy, {"ldapGroupDescription[0]=a\tb"}, 1}, {busy, {"syscontact=#ops"}, 1},
        {busy, {"trapCommunities[1]=a b"}, 1},       {busy, {"lcdUserNotes=it's"}, 1},
        {busy, {"rackName=a\nb"}, 1},
    };
    for (const Case &c : cases) {
        m.write_bytes("/images/env", c.raw);
        std::vector<std::string> args = {"set", m.at("/images/env").string()};
        args.insert(args.end(), c.assignments.begin(), c.assignments.end());
        RunResult r = m.run("cfgimage", args);
        EXPECT_EQ(r.status, c.status) << c.assignments[0];
        EXPECT_TRUE(one_line(r)) << r.err;
        EXPECT_EQ(m.read_bytes("/images/env"), c.raw) << c.assignments[0];
        EXPECT_EQ(tree(m, "/images").size(), 1u) << "a temporary file was left behind";
    }
    // Forced, the uncorrectable image is rewritten whole and reads clean.
    m.write_bytes("/images/env", broken);
    RunResult forced = m.run("cfgimage", {"set", "--force", m.at("/images/env").string(), "rackName=fine"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("codeword 2 could not be read; their bytes, as read, are now stored as valid"),
              std::string::npos) << forced.err;
    EXPECT_EQ(m.run("cfgimage", {"check", m.at("/images/env").string()}).status, 0);
}

TEST(CfgimageMigrateAndNew, OfflineMigrationAndFactoryImages)
{
    SimModule m;
    m.write_bytes("/images/env", encoded(image_at(38)));
    std::string image = m.at("/images/env").string();
    RunResult r = m.run("cfgimage", {"migrate", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Updating NVRAM version to 39.\nUpdating NVRAM version to 40."), std::string::npos) << r.out;
    EXPECT_EQ(m.run("cfgimage", {"get", image, "version", "enclosureName"}).out, "40\nRack7-Encl2\n");
    auto ancient = encoded(image_at(17));
    m.write_bytes("/images/env", ancient);
    EXPECT_EQ(m.run("cfgimage", {"migrate", image}).status, 1);
    EXPECT_EQ(m.read_bytes("/images/env"), ancient);

    r = m.run("cfgimage", {"new", "--serial", "SN0001", "--part=PN-0001", "--unique-id", "00112233AABB", "--password",
                           "secret", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(m.run("cfgimage", {"get", image, "chassisSerialNumber", "chassisPartNumber", "zelmarName", "baudRate",
                                 "userName[0]"})
                  .out,
              "SN0001\nPN-0001\nZELMAR-00112233AABB\n9600\nAdministrator\n");
    r = m.run("cfgimage", {"new", "--fips", "--lcd-pin", "135790", image});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("cannot log in until a password is set"), std::string::npos) << r.err;
    EXPECT_EQ(m.run("cfgimage", {"get", "--fips", image, "lcdPin", "minPasswordLength", "userName[0]"}).out,
              "135790\n8\nAdministrator\n");
    auto kept = m.read_bytes("/images/env");
    for (auto [option, value] : {std::pair<std::string, std::string>{"--unique-id", "0011"}, {"--lcd-pin", "1234"},
                                 {"--serial", std::string(21, 'S')}}) {
        RunResult refused = m.run("cfgimage", {"new", option, value, image});
        EXPECT_EQ(refused.status, 1) << option;
        EXPECT_TRUE(one_line(refused)) << refused.err;
        EXPECT_EQ(m.read_bytes("/images/env"), kept);
    }
}
