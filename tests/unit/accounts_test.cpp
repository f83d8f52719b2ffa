// Composing the account, directory, bay, blade-signature and scheduling files.
#include "writers/compose.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace settings;

namespace {

struct User {
    std::string name, gecos, hash;
    unsigned id = 0, privilege = 0;
    std::uint32_t mask1 = 0, mask2 = 0;
};

struct Image {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(IMAGE_SIZE, 0);
    std::uint8_t *data() { return bytes.data(); }

    void users(const UserLayout &layout, const std::vector<User> &list, int count = -1)
    {
        set_u(data(), F("userCount"), count < 0 ? static_cast<unsigned>(list.size()) : static_cast<unsigned>(count));
        for (unsigned i = 0; i < list.size(); ++i) {
            std::uint8_t *rec = record(data(), layout.records, i);
            set_text(rec, layout.name, list[i].name);
            set_text(rec, layout.gecos, list[i].gecos);
            set_text(rec, layout.hash, list[i].hash);
            set_u(rec, layout.id, list[i].id);
            set_u(rec, layout.privilege, list[i].privilege);
            set_u(rec, layout.bayMask1, list[i].mask1);
            set_u(data(), F("userBayMask2"), list[i].mask2, i);
        }
    }

    void group(unsigned j, const std::string &name, const std::string &description, unsigned id,
               unsigned privilege, std::uint32_t mask1 = 0, std::uint32_t mask2 = 0)
    {
        std::uint8_t *rec = record(data(), F("ldapGroupRecords"), j);
        set_text(rec, Group("ldapGroupName"), name);
        set_text(rec, Group("ldapGroupDescription"), description);
        set_u(rec, Group("ldapGroupId"), id);
        set_u(rec, Group("ldapGroupPrivilege"), privilege);
        set_u(rec, Group("ldapGroupBayMask1"), mask1);
        set_u(data(), F("ldapGroupBayMask2"), mask2, j);
    }
};

const UserLayout &kStd = user_layout(false);
const UserLayout &kFips = user_layout(true);

const std::string kFixed = "wren:x:0:0:0,,:/:/bin/false\n"
                           "nobody:x:99:3:0,Default User,:/:/bin/false\n"
                           "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli\n";
const std::string kServiceX = "mlnuser_:x:100:0:0,Meshlane User,:/:/bin/false\n"
                              "kstuser_:x:101:2:0,Kesslet User,:/:/bin/false\n";
const std::string kGroupHead = "wren::0:wren\nnobody::99:\n";
const std::string kNoBays = "4294967295 4294967295\n";

template <typename Compose>
std::string composed(Compose compose)
{
    static OutputBuffer out;
    out.clear();
    compose(out);
    return std::string(out.text());
}

std::string passwd(Image &img, const UserLayout &layout, LogEntries &log, KeptPasswords kept = {})
{
    return composed([&](OutputBuffer &out) { compose_passwd(img.data(), layout, kept, out, log); });
}
std::string group(Image &img, const UserLayout &layout, LogEntries &log)
{
    return composed([&](OutputBuffer &out) { compose_group(img.data(), layout, out, log); });
}
std::string bayconf(Image &img, const UserLayout &layout, LogEntries &log)
{
    return composed([&](OutputBuffer &out) { compose_bayconf(img.data(), layout, out, log); });
}

// Numbers go in as raw bits: 0xFFFFFFFE in a signed field is -2.
void set_fields(std::uint8_t *d, std::initializer_list<std::pair<const char *, std::uint32_t>> numbers,
                std::initializer_list<std::pair<const char *, std::string>> texts)
{
    for (const auto &[name, value] : numbers)
        set_u(d, *find_field(kLayout40, name), value);
    for (const auto &[name, value] : texts)
        set_text(d, *find_field(kLayout40, name), value);
}

std::vector<std::string> entries(const LogEntries &log, LogEntry::Channel channel, int priority)
{
    std::vector<std::string> v;
    for (const LogEntry &e : log)
        if (e.channel == channel && e.priority == priority)
            v.push_back(e.text);
    return v;
}
std::vector<std::string> events(const LogEntries &log) { return entries(log, LogEntry::Event, LOG_ERR); }

} // namespace

TEST(UserLayoutChoice, FipsModeOrAFipsHashOnRecordZero)
{
    Image img;
    img.users(kStd, {{"admin", "", "$5$salt$hash", 1, 0}});
    EXPECT_EQ(choose_user_layout(img.data(), true, true).layout, &kFips);
    EXPECT_TRUE(choose_user_layout(img.data(), false, true).by_hash);
    EXPECT_EQ(choose_user_layout(img.data(), false, true).layout, &kFips);
    EXPECT_EQ(choose_user_layout(img.data(), false, false).layout, &kStd);  // the bay file: mode alone
    for (const char *hash : {"$6$salt$hash", "$5", "5$5$", ""}) {
        img.users(kStd, {{"admin", "", hash, 1, 0}});
        EXPECT_EQ(choose_user_layout(img.data(), false, true).layout, &kStd) << hash;
    }
}

TEST(UserLayoutChoice, AdminRecordIsPinnedAtTheChosenLayoutsOffsets)
{
    Image img;
    img.users(kFips, {{"admin", "", "$5$x", 7, 3}});
    pin_admin_record(img.data(), kFips);
    const std::uint8_t *rec = record(img.data(), kFips.records, 0);
    EXPECT_EQ(get_u(rec, kFips.id), 1u);
    EXPECT_EQ(get_u(rec, kFips.privilege), 0u);
    EXPECT_EQ(get_text(rec, kFips.hash), "$5$x");
}

TEST(Passwd, RecordZeroWhateverTheCountAndOnlyExactServiceNamesSkipped)
{
    for (int count : {0, 1}) {
        Image img;
        img.users(kStd, {{"root0", "c", "h", 5, 2}, {"other", "", "h", 5, 2}}, count);
        LogEntries log;
        EXPECT_EQ(passwd(img, kStd, log), kFixed + "root0:h:1:0:c:/:/usr/bin/cli\n" + kServiceX) << count;
    }
    Image img;
    LogEntries log;
    // A zeroed table has no administrator name: no line rather than a nameless one.
    EXPECT_EQ(passwd(img, kStd, log), kFixed + kServiceX);
    img.users(kStd, {{"admin", "", "h", 1, 0}, {"mlnuser_", "", "h", 3, 0}, {"kstuser_", "", "h", 4, 0},
                     {"mlnuser_x", "", "h", 5, 2}, {"mlnuser", "", "h", 6, 2}});
    EXPECT_EQ(passwd(img, kStd, log), kFixed + "admin:h:1:0::/:/usr/bin/cli\n"
                                               "mlnuser_x:h:5:2::/:/usr/bin/cli\n"
                                               "mlnuser:h:6:2::/:/usr/bin/cli\n" + kServiceX);
}

TEST(Passwd, BothLayoutsWithFieldsThatFillTheirWidth)
{
    const std::string name(40, 'n'), gecos(43, 'g');
    struct Case {
        const UserLayout *layout;
        std::string hash;
    };
    for (const Case &c : {Case{&kFips, "$5$" + std::string(67, 'h')}, Case{&kStd, "$1$" + std::string(26, 'h')}}) {
        Image img;
        img.users(*c.layout, {{"a", "", c.hash, 1, 0}, {name, gecos, c.hash, 300, 2}});
        LogEntries log;
        EXPECT_EQ(passwd(img, *c.layout, log), kFixed + "a:" + c.hash + ":1:0::/:/usr/bin/cli\n" + name + ":" +
                                                   c.hash + ":300:2:" + gecos + ":/:/usr/bin/cli\n" + kServiceX);
    }
}

TEST(Passwd, CountAboveCapacityWalksTheTableOnlyAndSaysSoOnce)
{
    for (auto [layout, capacity] : {std::pair{&kStd, 31u}, std::pair{&kFips, 21u}}) {
        Image img;
        std::vector<User> list;
        for (unsigned i = 0; i < capacity; ++i)
            list.push_back({"u" + std::to_string(i), "", "h", 10 + i, 2});
        img.users(*layout, list, 200);
        LogEntries log;
        std::string text = passwd(img, *layout, log);
        EXPECT_NE(text.find("\nu" + std::to_string(capacity - 1) + ":h:"), std::string::npos);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), capacity + 5);
        EXPECT_EQ(events(log), (std::vector<std::string>{"userCount 200 exceeds the table's " +
                                                         std::to_string(capacity) + " records; only those are read\n"}));
    }
}

TEST(AccountRule, NamesReadAsAnotherAccountAreLeftOutAndOtherFieldsCleaned)
{
    Image img;  // record 0 follows the same rule; its comment never drops it
    img.users(kStd, {{"Administrator", "Tel: 5\r55", "$1$a$b", 9, 3}, {" mlnuser_", "", "h", 100, 0},
                     {"\twren", "", "", 0, 0}, {"#c", "", "h", 3, 0}, {"+", "", "h", 4, 0}, {"-x", "", "h", 5, 0},
                     {"a\x7f", "", "h", 6, 0}, {"x::0:0::/:/bin/sh\nevil", "", "h", 7, 0}, {"", "", "h", 8, 0},
                     {"kstuser_", "", "h", 9, 0}, {"Administrator", "", "h", 10, 0},
                     {"smith,j", "", "$1$se:cret", 11, 2}, {"fine ", "", "h", 12, 0}});
    LogEntries plog;
    EXPECT_EQ(passwd(img, kStd, plog),
              kFixed + "Administrator:$1$a$b:1:0:Tel 555:/:/usr/bin/cli\nsmith,j:*:11:2::/:/usr/bin/cli\n" + kServiceX);
    const std::vector<std::pair<unsigned, std::string>> why = {
        {1, "starts or ends with whitespace"}, {2, "starts or ends with whitespace"},
        {3, "starts with '#', '+' or '-'"}, {4, "starts with '#', '+' or '-'"}, {5, "starts with '#', '+' or '-'"},
        {6, "holds a control character"}, {7, "holds a control character"}, {8, "is empty"},
        {9, "is a fixed account's"}, {10, "repeats an earlier record's"}, {12, "starts or ends with whitespace"}};
    std::vector<std::string> expected;
    for (const auto &[i, reason] : why)
        expected.push_back("user table record " + std::to_string(i) + " left out of /etc/passwd: its name " + reason + "\n");
    EXPECT_EQ(events(plog), expected);
    EXPECT_EQ(entries(plog, LogEntry::Event, LOG_WARNING),
              (std::vector<std::string>{"user table record 0 written to /etc/passwd with its comment cleaned\n",
                                        "user table record 11 written to /etc/passwd with its password hash "
                                        "replaced by *\n"}));
    EXPECT_EQ(entries(plog, LogEntry::UserLine, LOG_INFO),
              (std::vector<std::string>{"[0] - Administrator:-:1:0:Tel 555:/:/usr/bin/cli\n",
                                        "[11] - smith,j:-:11:2::/:/usr/bin/cli\n"}));
    for (const LogEntry &e : plog)
        EXPECT_EQ(e.text.find("cret"), std::string::npos) << "a hash reached the log";

    LogEntries glog;  // a comma would split the member list
    EXPECT_EQ(group(img, kStd, glog),
              kGroupHead + "admin::0:Administrator,mlnuser_,\noper::1:Administrator,mlnuser_\nuser::2:\nanonymous::3:\n");
    EXPECT_EQ(events(glog).back(), "user table record 11 left out of /etc/group: its name holds a comma\n");
    LogEntries blog;  // records left out of the account files grant no bays
    EXPECT_EQ(bayconf(img, kStd, blog), "9=0 0\n11=0 0\n0=" + kNoBays + "100=" + kNoBays + "101=" + kNoBays);
}

TEST(Group, MembersByPrivilegeInTableOrder)
{
    Image img;
    LogEntries log;
    img.users(kStd, {{"alpha", "", "h", 1, 0}}, 0);  // an empty table keeps the service account
    EXPECT_EQ(group(img, kStd, log),
              kGroupHead + "admin::0:mlnuser_,\noper::1:mlnuser_\nuser::2:\nanonymous::3:\n");

    img.users(kStd, {{"alpha", "", "h", 1, 0}, {"beta", "", "h", 2, 1}, {"gamma", "", "h", 3, 2}});
    EXPECT_EQ(group(img, kStd, log), kGroupHead + "admin::0:alpha,mlnuser_,\noper::1:alpha,beta,mlnuser_\n"
                                                  "user::2:gamma\nanonymous::3:\n");

    img.users(kFips, {{"root0", "", "$5$h", 9, 3},  // record 0 is always an administrator
                      {"o1", "", "h", 2, 1}, {"a1", "", "h", 2, 0}, {"u1", "", "h", 2, 2}, {"n1", "", "h", 2, 3},
                      {"n2", "", "h", 2, 3}, {"high", "", "h", 2, 4}, {"mlnuser_", "", "h", 2, 0}});
    EXPECT_EQ(group(img, kFips, log), kGroupHead + "admin::0:root0,a1,mlnuser_,\n"
                                                   "oper::1:root0,o1,a1,mlnuser_\n"
                                                   "user::2:u1\nanonymous::3:n1,n2\n");
}

TEST(Bayconf, UsersThenMissingFixedIdsThenDirectoryGroups)
{
    Image img;
    LogEntries log;
    EXPECT_EQ(bayconf(img, kStd, log), "0=" + kNoBays + "100=" + kNoBays + "101=" + kNoBays);

    img.users(kStd, {{"admin", "", "h", 1, 0, 0, 0}, {"svc", "", "h", 100, 2, 0x80000001u, 0x7},
                     {"x:evil\n", "", "h", 7, 2, 5, 6},  // left out of the account files: no bays
                     {"zero", "", "h", 0, 2, 0, 0}});
    set_u(img.data(), F("ldapGroupCount"), 2);
    img.group(0, "Domain Admins", "d", 4000, 0, 0xFFFFFFFFu, 0x80000000u);
    img.group(1, "Ops", "o", 4001, 1, 3, 4);
    EXPECT_EQ(bayconf(img, kStd, log), "1=" + kNoBays + "100=2147483649 7\n0=0 0\n101=" + kNoBays +
                                           "4000=4294967295 2147483648\n4001=3 4\n");
}

TEST(Bayconf, FipsStrideAndGroupCapacity)
{
    Image img;
    img.users(kFips, {{"admin", "", "$5$h", 1, 0, 0, 0}, {"u", "", "h", 300, 2, 9, 10}});
    set_u(img.data(), F("ldapGroupCount"), 255);
    for (unsigned j = 0; j < 5; ++j)
        img.group(j, "g" + std::to_string(j), "", 5000 + j, 2, j, j + 10);
    LogEntries log;
    EXPECT_EQ(bayconf(img, kFips, log), "1=" + kNoBays + "300=9 10\n0=" + kNoBays + "100=" + kNoBays + "101=" +
                                            kNoBays + "5000=0 10\n5001=1 11\n5002=2 12\n5003=3 13\n5004=4 14\n");
    EXPECT_EQ(events(log), (std::vector<std::string>{
                               "ldapGroupCount 255 exceeds the table's 5 records; only those are read\n"}));
}

TEST(Ldapgroup, OneLinePerGroupUnfitNamesLeftOutDescriptionsCleaned)
{
    Image img;
    LogEntries log;
    auto ldapgroup = [&] { return composed([&](OutputBuffer &out) { compose_ldapgroup(img.data(), out, log); }); };
    EXPECT_EQ(ldapgroup(), "");

    const std::string long_name(255, 'N'), long_desc(58, 'D');
    set_u(img.data(), F("ldapGroupCount"), 5);
    img.group(0, long_name, long_desc, 65535, 3);
    img.group(1, "evil", "x:0:0:\nroot", 1, 0);
    img.group(2, "cr\rname", "", 2, 0);
    img.group(3, "Ops, West", "Operators", 4001, 1);
    img.group(4, "evil", "", 3, 0);
    EXPECT_EQ(ldapgroup(), long_name + ":x:65535:3:" + long_desc + ":/:/usr/bin/cli\n" +
                               "evil:x:1:0:x00root:/:/usr/bin/cli\nOps, West:x:4001:1:Operators:/:/usr/bin/cli\n");
    EXPECT_EQ(events(log),
              (std::vector<std::string>{
                  "directory group table record 2 left out of /etc/ldapgroup: its name holds a control character\n",
                  "directory group table record 4 left out of /etc/ldapgroup: its name repeats an earlier record's\n"}));
    EXPECT_EQ(entries(log, LogEntry::Event, LOG_WARNING),
              (std::vector<std::string>{
                  "directory group table record 1 written to /etc/ldapgroup with its description cleaned\n"}));
}

TEST(Ldapconf, SixteenKeysAndLineBreaksLeftOut)
{
    Image img;
    std::uint8_t *d = img.data();
    set_fields(d,
               {{"enable", 1}, {"enableLocalUsers", 255}, {"ntNameMapping", 2}, {"directoryServerSSLPort", 636},
                {"directoryServerGCPort", 0xFFFFFFFFu}, {"subjectAltName", 1}, {"serviceAccountFlag", 1}},
               {{"directoryServerIPAddress", std::string(64, 'a')}, {"searchContext1", "ou=a,dc=b"},
                {"searchContext3", std::string(127, 'c')}, {"serviceAccount", "svc"},
                {"serviceAccountPassword", "p \"w'd\nenable=0\r"}});  // escaped for a shell
    EXPECT_EQ(composed([&](OutputBuffer &out) { compose_ldapconf(d, out); }),
              "enable=1\nenableLocalUsers=255\nntNameMapping=2\ndirectoryServerIPAddress=" + std::string(64, 'a') +
                  "\ndirectoryServerSSLPort=636\ndirectoryServerGCPort=-1\nsearchContext1=ou=a,dc=b\n"
                  "searchContext2=\nsearchContext3=" + std::string(127, 'c') +
                  "\nsubjectAltName=1\nserviceAccountFlag=1\nserviceAccount=svc\n"
                  "serviceAccountPassword=p\\ \\\"w\\'denable=0\nsearchContext4=\nsearchContext5=\nsearchContext6=\n");
    EXPECT_EQ(get_text(d, F("serviceAccountPassword")), "p \"w'd\nenable=0\r");  // image unchanged
}

TEST(SchedulingFiles, FullWidthTextsAndTopBitValues)
{
    Image img;
    std::uint8_t *d = img.data();
    set_fields(d,
               {{"urbInterval", 2}, {"manualPolicyFrontBays0", 0xFFFFFFFFu}, {"updateDate", 0xFFFFFFFEu},
                {"manualPolicyIoBays", 0xAB}, {"serverBaysInProgress0", 0x00C0FFEEu}, {"urbLastAttempt", 0x80000000u},
                {"KAT_error_reboot", 1}, {"KAT_error_reboot_counter", 250}, {"KAT_error_reboot_time", 0xFFFFFFFEu}},
               {{"isoUrl", std::string(128, 'i')}, {"urbUrl", "http://a/\nurbEnabled=1\r\n"},
                {"urbEmailAddress", std::string(64, 'e')}});
    EXPECT_EQ(composed([&](OutputBuffer &out) { compose_urb(d, out); }),
              "urbEnabled=0\nurbUrl=http://a/urbEnabled=1\nurbProxyUrl=\nurbInterval=2\nurbMinute=0\nurbHour=0\n"
              "urbWeekDay=0\nurbMonthDay=0\nurbLastAttempt=2147483648\nurbLastStatus=0\nurbSmtpServer=\n"
              "urbEmailAddress=" + std::string(64, 'e') + "\n");
    EXPECT_EQ(composed([&](OutputBuffer &out) { compose_fw_mgmt(d, out); }),
              "fwManagementEnabled=0\nupdatePolicy=0\nisoUrl=" + std::string(128, 'i') + "\nupdateDate=-2\n"
              "manualPolicyFrontBays0=0xFFFFFFFF\nmanualPolicyFrontBays1=0x0\n"
              "manualPolicyIoBays=0xAB\nmanualPolicyMisc=0x0\ndvdStatus=0\n"
              "serverBaysInProgress0=0xC0FFEE\nserverBaysInProgress1=0x0\npowerPolicy=0\n"
              "forceDowngrade=0\nefmLocked=0\n");
    EXPECT_EQ(composed([&](OutputBuffer &out) { compose_kat_info(d, out); }),
              "KAT_error_reboot=1\nKAT_error_reboot_counter=250\nKAT_error_reboot_time=4294967294\n");
}

TEST(RawFiles, BladeSignaturesAndInterconnectBlockAsStored)
{
    Image img;
    set_u(img.data(), F("bladeSignatures1"), 0x01020304u, 0);
    set_u(img.data(), F("bladeSignatures1"), 0xA1A2A3A4u, 15);
    set_u(img.data(), F("bladeSignatures2"), 0xB1B2B3B4u, 0);
    set_u(img.data(), F("bladeSignatures2"), 0xC1C2C3C4u, 31);
    auto mln = bytes(img.data(), F("mlnInfo"));
    mln.front() = 0x5A;
    mln.back() = 0xA5;
    std::string sig = compose_bladesig(img.data()), info = compose_mlninfo(img.data());
    EXPECT_EQ(sig, "\x01\x02\x03\x04" + std::string(56, '\0') + "\xA1\xA2\xA3\xA4\xB1\xB2\xB3\xB4" +
                       std::string(120, '\0') + "\xC1\xC2\xC3\xC4");
    EXPECT_EQ(info, "\x5A" + std::string(1135, '\0') + "\xA5");
}
