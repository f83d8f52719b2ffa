// The enclosure, network and SNMP agent files composed from settings images.
#include "settings/layout.h"
#include "writers/netconf.h"
#include "writers/snmpd.h"
#include "writers/wrenconf.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

using settings::F;

namespace {

using Image = std::vector<std::uint8_t>;

Image blank() { return Image(settings::IMAGE_SIZE, 0); }

// By name at run time, so that tables of names can set fields.
settings::Field R(std::string_view name) { return *settings::find_field(settings::kLayout40, name); }

void text(Image &im, const char *f, std::string_view s, unsigned index = 0)
{
    settings::set_text(im.data(), R(f), s, index);
}

void texts(Image &im, std::initializer_list<std::pair<const char *, const char *>> values)
{
    for (auto [f, v] : values)
        text(im, f, v);
}

void nums(Image &im, std::initializer_list<std::pair<const char *, std::int32_t>> values)
{
    for (auto [f, v] : values)
        settings::set_i(im.data(), R(f), v);
}

void ipv6(Image &im, const char *f, const char *text_form, unsigned index = 0, int prefix = -1)
{
    std::uint8_t *p = settings::record(im.data(), R(f), index);
    ASSERT_EQ(inet_pton(AF_INET6, text_form, p), 1);
    if (prefix >= 0)
        p[16] = static_cast<std::uint8_t>(prefix);
}

template <class Compose> std::string composed(const Image &im, Compose compose)
{
    OutputBuffer out;
    compose(im.data(), out);
    return std::string(out.text());
}

std::string wrenconf(const Image &im) { return composed(im, compose_wrenconf); }
std::string snmpd(const Image &im, LogEntries &log)
{
    return composed(im, [&](const std::uint8_t *p, OutputBuffer &out) { compose_snmpd_conf(p, out, log); });
}
std::string netconf(const Image &im)
{
    return composed(im, [](const std::uint8_t *p, OutputBuffer &out) {
        compose_netconf(p, convert_netconf_addresses(p), out);
    });
}

// One line of a file, found by its key.
std::string line(const std::string &file, const std::string &key)
{
    std::size_t at = ("\n" + file).find("\n" + key + "=");
    return at == std::string::npos ? "<missing>" : file.substr(at, file.find('\n', at) - at);
}

} // namespace

TEST(Wrenconf, EveryKeyInOrderWithItsFormatting)
{
    Image im = blank();
    texts(im, {{"enclosureName", "Encl 1.A"}, {"rackName", "Rack-7"}, {"productAssetTag", "Tag_9"},
               {"TZ", "CET-1CEST"}, {"lcdPin", "123456"}, {"lcdUserNotes", "Rack^\"row\" `2` it's"},
               {"pduPartNumber", "PDU-1"}, {"zelmarName", "ZELMAR-0011"}, {"certsMD5", "abc"},
               {"configMD5", "def"}, {"syslogServerAddress", "10.1.1.1"}});
    nums(im, {{"keysExist", 200}, {"lcdForceNewPinCode", 1}, {"wizardCompleteFlag", 0xAB}, {"powerUpFlag", 1},
              {"pwrRedundancyConfig", 2}, {"pwrMode", 3}, {"pwrCeiling", -5}, {"lcdButtonLock", 1},
              {"ssoTrustMode", 2}, {"usbMode", 3}, {"groupCapBays", 7}, {"groupCap", 1000}, {"groupInterval", 8},
              {"groupKi", -9}, {"groupMaxKi", 10}, {"groupKp", 11}, {"groupKd", 12}, {"groupDeratedCircuit", 13},
              {"groupRatedCircuit", 14}, {"strictPasswordsEnabled", 1}, {"minPasswordLength", 8},
              {"syslogServerPort", 514}, {"remoteLogEnabled", 1}, {"powerdelayStatus", 1}, {"sessionTimeout", 5},
              {"tcpTimeout", 65535}, {"bannerEnabled", 255}, {"featureBits", 0x14},  // autoResetServer, sysNameFlag
              {"baudRate", 115200}, {"SSLSessionCacheTimeout", 300}});
    const std::uint8_t id[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    std::memcpy(settings::bytes(im.data(), F("solutionsID")).data(), id, 8);
    settings::set_i(im.data(), F("interconnectDelays"), -1, 0);
    settings::set_i(im.data(), F("interconnectDelays"), 300, 7);
    settings::set_i(im.data(), F("serverDelays"), -32768, 47);
    std::string zeros47;
    for (int k = 0; k < 47; ++k)
        zeros47 += "0,";

    EXPECT_EQ(wrenconf(im),
              "enclosureName=Encl\\ 1\\.A\nrackName=Rack-7\nproductAssetTag=Tag_9\nTZ=CET-1CEST\nkeysExist=200\n"
              "lcdPin=123456\nlcdForceNewPinCode=1\nwizardCompleteFlag=0xAB\npowerUpFlag=1\n"
              "pwrRedundancyConfig=2\npwrMode=3\npwrCeiling=-5\nlcdButtonLock=1\nlcdUserNotes='Rack^row 2 its'\n"
              "pduPartNumber=PDU-1\nzelmarName=ZELMAR-0011\nssoTrustMode=2\nusbMode=3\ngroupCap=1000\n"
              "groupCapBays=7\ngroupInterval=8\ngroupKi=-9\ngroupMaxKi=10\ngroupKp=11\ngroupKd=12\n"
              "groupDeratedCircuit=13\ngroupRatedCircuit=14\ncertsMD5=abc\nconfigMD5=def\n"
              "strictPasswordsEnabled=1\nminPasswordLength=8\nsyslogServerAddress=10.1.1.1\n"
              "syslogServerPort=514\nremoteLogEnabled=1\npowerdelayStatus=1\nsessionTimeout=5\n"
              "tcpTimeout=65535\nsolutionsID=0123456789ABCDEF\nbannerEnabled=255\nautoResetServer=1\n"
              "interconnectDelays=-1,0,0,0,0,0,0,300\nserverDelays=" + zeros47 + "-32768\n"
              "baudRate=115200\nsysNameFlag=1\nSSLSessionCacheTimeout=300\n");
}

TEST(Wrenconf, TcpTimeoutHasAFloorOfTenAndSessionTimeoutNone)
{
    Image im = blank();
    EXPECT_EQ(line(wrenconf(im), "sessionTimeout"), "sessionTimeout=0");
    for (auto [stored, written] : {std::pair{0, "10"}, {9, "10"}, {10, "10"}, {11, "11"}}) {
        nums(im, {{"tcpTimeout", stored}});
        EXPECT_EQ(line(wrenconf(im), "tcpTimeout"), std::string("tcpTimeout=") + written) << stored;
    }
}

TEST(Wrenconf, ValuesAShellWouldInterpretAreBackslashedAndLineBreaksDropped)
{
    Image im = blank();
    texts(im, {{"rackName", "R1\nbaudRate=1"}, {"lcdUserNotes", "a\r\n$(b)'\\"}, {"TZ", "$(x);`y` \t~:~#\\"},
               {"certsMD5", "ok-1.2,3@a=b%c+d_e/\xc3\xa9"}});
    std::string f = wrenconf(im);
    EXPECT_EQ(line(f, "rackName"), "rackName=R1baudRate=1");
    EXPECT_EQ(line(f, "lcdUserNotes"), "lcdUserNotes='a$(b)\\'");  // literal between single quotes
    EXPECT_EQ(line(f, "TZ"), "TZ=\\$\\(x\\)\\;\\`y\\`\\ \\\t\\~:\\~\\#\\\\");
    EXPECT_EQ(line(f, "certsMD5"), "certsMD5=ok-1.2,3@a=b%c+d_e/\xc3\xa9");  // nothing to quote
}

TEST(Wrenconf, EnclosureNameIsEscapedWholeAndLeavesTheImageAlone)
{
    // 33 characters fill the field without a NUL; only 32 count, and every
    // one of them is escaped: 64 characters, none of rackName's.
    Image im = blank();
    std::memset(im.data() + F("enclosureName").offset, '.', 33);
    text(im, "rackName", "RK");
    Image before = im;
    std::string f = wrenconf(im);
    std::string escaped;
    for (int k = 0; k < 32; ++k)
        escaped += "\\.";
    EXPECT_EQ(line(f, "enclosureName"), "enclosureName=" + escaped);
    EXPECT_EQ(line(f, "rackName"), "rackName=RK");
    EXPECT_EQ(im, before);  // tcpTimeout's floor is not stored back either
}

TEST(EncName, EscapeMarksAllButLettersDigitsHyphenAndUnderscoreWithinItsBytes)
{
    char name[33] = "a-b_C9 x.y\\z\xC3\xA9";
    EXPECT_EQ(escape_enc_name(name), name);
    EXPECT_STREQ(name, "a-b_C9\\ x\\.y\\\\z\\\xC3\\\xA9");
    EXPECT_EQ(escape_enc_name(nullptr), nullptr);
    EXPECT_EQ(unescape_enc_name(nullptr), nullptr);

    // A guard after the caller's 33 bytes survives; pairs are never split.
    char buffer[33 + 9];
    std::memset(buffer, 'G', sizeof buffer);
    std::memcpy(buffer, "a b c d e f g h i j k l m n o p q", 33);
    escape_enc_name(buffer);
    EXPECT_EQ(std::string(buffer + 33, 9), std::string(9, 'G'));
    EXPECT_STREQ(buffer, "a\\ b\\ c\\ d\\ e\\ f\\ g\\ h\\ i\\ j\\ k");
}

TEST(EncName, UnescapeUndoesEscapeAndDropsStrayBackslashes)
{
    for (const char *original : {"Encl 1.A", "x\\y", "", "ab cd ef gh ij"}) {
        char name[33] = {};
        std::strcpy(name, original);
        unescape_enc_name(escape_enc_name(name));
        EXPECT_STREQ(name, original);
    }
    char stray[33] = "a\\b\\\\c\\";
    EXPECT_STREQ(unescape_enc_name(stray), "ab\\c");
}

TEST(Netconf, EveryKeyInOrderWithItsFormatting)
{
    Image im = blank();
    nums(im, {{"dhcpFlag", 1}, {"ipv6Flags", 0x0B}, {"ntpPoll", 64}, {"httpFlag", 1}, {"snmpFlag", 1},
              {"llfInterval", 3600}, {"nicSpeed", -1}, {"nicDuplex", 2}, {"guiLoginDetailFlag", 1},
              {"vigilSystem", 200},
              // KivuFederation, ipv6DyndnsFlag, fqdnEnabled, ocsp; 0x14 is the enclosure's
              {"featureBits", 0xA9 | 0x14}});
    const std::uint8_t ip[4] = {10, 0, 0, 1}, mask[4] = {255, 255, 255, 0};
    std::memcpy(settings::bytes(im.data(), F("ipAddress")).data(), ip, 4);
    std::memcpy(settings::bytes(im.data(), F("netMask")).data(), mask, 4);
    ipv6(im, "ipv6StaticAddress", "2001:db8::1", 0, 64);
    ipv6(im, "ipv6StaticAddress", "fe80::abcd:1", 2, 128);
    ipv6(im, "ipv6Dns1", "2001:db8::53");
    ipv6(im, "ipv6StaticDefaultGateway", "fe80::1");
    ipv6(im, "ipv6StaticRouteDestination", "2001:db8:1::", 1, 48);
    ipv6(im, "ipv6StaticRouteGateway", "fe80::2", 1);
    // ipAllow1 IPv4 192.168.1.0, ipAllow2 IPv6, the rest all zero (IPv4).
    std::uint8_t *a1 = settings::record(im.data(), F("ipAllow"), 0);
    a1[12] = 192, a1[13] = 168, a1[14] = 1, a1[15] = 0, a1[16] = 24;
    ipv6(im, "ipAllow", "2001:db8::", 1, 32);
    texts(im, {{"ntpServer1", "ntp.example"}, {"emailRecv", "ops@example"}, {"emailServer", "mail.example"},
               {"emailDomain", "example"}, {"senderEmail", "em@example"}, {"senderName", "Encl \"7\" `x` 'y'"},
               {"ipswapMidplaneSerialNo", "MID1"}, {"ipswapZelmarBuddySerialNo", "BUD2"}});

    const std::string z = "0000:0000:0000:0000:0000:0000:0000:0000";
    EXPECT_EQ(netconf(im),
              "dhcpFlag=1\ndyndnsFlag=0\nipAddress=10.0.0.1\nnetMask=255.255.255.0\ndefaultGateway=0.0.0.0\n"
              "dns1=0.0.0.0\ndns2=0.0.0.0\nipv6Enabled=1\nipv6DhcpEnabled=1\nipv6RouterAdvEnabled=0\n"
              "ipv6RaTrafficEnabled=1\n"
              "ipv6StaticAddress1=2001:0db8:0000:0000:0000:0000:0000:0001/64\n"
              "ipv6StaticAddress2=" + z + "/0\n"
              "ipv6StaticAddress3=fe80:0000:0000:0000:0000:0000:abcd:0001/128\n"
              "ipv6Dns1=2001:db8::53\nipv6Dns2=::\nipv6StaticDefaultGateway=fe80::1\n"
              "ipv6StaticRouteDestination1=" + z + "/0\n"
              "ipv6StaticRouteDestination2=2001:0db8:0001:0000:0000:0000:0000:0000/48\n"
              "ipv6StaticRouteDestination3=" + z + "/0\n"
              "ipv6StaticRouteGateway1=" + z + "\n"
              "ipv6StaticRouteGateway2=fe80:0000:0000:0000:0000:0000:0000:0002\n"
              "ipv6StaticRouteGateway3=" + z + "\n"
              "ntpServer1=ntp.example\nntpServer2=\nntpPoll=64\n"
              "ipAllow1=192.168.1.0\nipAllow2=2001:db8::\nipAllow3=0.0.0.0\nipAllow4=0.0.0.0\nipAllow5=0.0.0.0\n"
              "emailRecv=ops@example\nemailServer=mail.example\nemailDomain=example\nsenderEmail=em@example\n"
              "senderName='Encl 7 x y'\n"
              "httpFlag=1\nsshFlag=0\ntelnetFlag=0\nsnmpFlag=1\nntpFlag=0\nipFlag=0\nemailFlag=0\n"
              "ebipaSvbFlag=0\nebipaSwmFlag=0\nxmlReplyFlag=0\ntwofactor=0\ncrl=0\nllfFlag=0\nllfInterval=3600\n"
              "nicForcedFlag=0\nnicSpeed=-1\nnicDuplex=2\nipswapFlag=0\nipswapConfiguredRole=0\n"
              "ipswapMidplaneSerialNo=MID1\nipswapZelmarBuddySerialNo=BUD2\n"
              "guiLoginDetailFlag=1\nvigilSystem=200\nKivuFederation=1\nipv6DyndnsFlag=1\nsshKexDhg1=0\n"
              "fqdnEnabled=1\ncac=0\nocsp=1\n");
}

TEST(Netconf, NtpPollZeroMeansTheDefault)
{
    Image im = blank();
    EXPECT_EQ(line(netconf(im), "ntpPoll"), "ntpPoll=720");
    nums(im, {{"ntpPoll", -1}});
    EXPECT_EQ(line(netconf(im), "ntpPoll"), "ntpPoll=-1");
}

TEST(SnmpdConf, CommunitiesTwiceAndTrapSinksForSetReceiversOnly)
{
    Image im = blank();
    texts(im, {{"syslocation", "Lab 3"}, {"syscontact", "ops"}, {"rocommunity", "public"}, {"rwcommunity", "private"}});
    text(im, "trapReceivers", "10.0.0.5", 2);
    text(im, "trapCommunities", "t2", 2);
    text(im, "trapReceivers", "10.0.0.9", 5);
    text(im, "trapCommunities", "t5", 5);
    text(im, "trapCommunities", "unused", 3);
    text(im, "trapReceivers", "10.0.0.7", 7);
    LogEntries log;
    EXPECT_EQ(snmpd(im, log),
              "syslocation Lab 3\nsyscontact ops\nrocommunity public\nrocommunity6 public\n"
              "rwcommunity private\nrwcommunity6 private\n"
              "trapsink 10.0.0.5 t2\ntrapsink 10.0.0.9 t5\ntrapsink 10.0.0.7 \n");
    EXPECT_TRUE(log.empty());
}

TEST(SnmpdConf, ValuesTheAgentCannotReadAreWrittenInTheClosestFormAndSaidOnce)
{
    Image im = blank();
    texts(im, {{"syscontact", "a\nrwcommunity evil"}, {"syslocation", " # Lab 3 "}, {"rocommunity", "pub lic"},
               {"rwcommunity", "it's \"x\"\\"}});
    for (auto [k, host, community] : {std::tuple{0, "h\n", ""}, {1, "10.0.0.1 evil", "a b\tc"}, {2, "#", "10.0.0.9"}}) {
        text(im, "trapReceivers", host, k);
        text(im, "trapCommunities", community, k);
    }
    LogEntries log;
    EXPECT_EQ(snmpd(im, log), R"(syslocation Lab 3
syscontact arwcommunity evil
rocommunity "pub lic"
rocommunity6 "pub lic"
rwcommunity "it\\'s \"x\"\\\\"
rwcommunity6 "it\\'s \"x\"\\\\"
trapsink h 
trapsink 10.0.0.1evil abc
)");
    ASSERT_EQ(log.size(), 4u);  // the location, receiver 1, community 1, and receiver 2 left out
    EXPECT_EQ(log[3].text, "/etc/snmp/snmpd.conf: trapReceivers[2] names no host the SNMP agent can read; its "
                           "trapsink line is left out\n");
}
