// The enclosure, network and SNMP agent files composed from settings images.
#include "settings/layout.h"
#include "writers/netconf.h"
#include "writers/snmpd.h"
#include "writers/wrenconf.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using settings::F;

namespace {

using Image = std::vector<std::uint8_t>;

Image blank()
{
    return Image(settings::IMAGE_SIZE, 0);
}

void text(Image &im, settings::Field f, std::string_view s, unsigned index = 0)
{
    settings::set_text(im.data(), f, s, index);
}

void num(Image &im, settings::Field f, std::int32_t v, unsigned index = 0)
{
    settings::set_i(im.data(), f, v, index);
}

std::string wrenconf(const Image &im)
{
    OutputBuffer out;
    compose_wrenconf(im.data(), out);
    return std::string(out.text());
}

// One line of a file, found by its key.
std::string line(const std::string &file, const std::string &key)
{
    std::size_t at = file.rfind("\n" + key + "=", std::string::npos);
    if (file.compare(0, key.size() + 1, key + "=") == 0 && at == std::string::npos)
        at = 0;
    else if (at == std::string::npos)
        return "<missing>";
    else
        ++at;
    return file.substr(at, file.find('\n', at) - at);
}

std::string zeros(int n)
{
    std::string s;
    for (int k = 0; k < n; ++k)
        s += k + 1 < n ? "0," : "0";
    return s;
}

} // namespace

TEST(Wrenconf, EveryKeyInOrderWithItsFormatting)
{
    Image im = blank();
    text(im, F("enclosureName"), "Encl 1.A");
    text(im, F("rackName"), "Rack-7");
    text(im, F("productAssetTag"), "Tag_9");
    text(im, F("TZ"), "CET-1CEST");
    num(im, F("keysExist"), 200);
    text(im, F("lcdPin"), "123456");
    num(im, F("lcdForceNewPinCode"), 1);
    num(im, F("wizardCompleteFlag"), 0xAB);
    num(im, F("powerUpFlag"), 1);
    num(im, F("pwrRedundancyConfig"), 2);
    num(im, F("pwrMode"), 3);
    num(im, F("pwrCeiling"), -5);
    num(im, F("lcdButtonLock"), 1);
    text(im, F("lcdUserNotes"), "Rack^row 2");
    text(im, F("pduPartNumber"), "PDU-1");
    text(im, F("zelmarName"), "ZELMAR-0011");
    num(im, F("ssoTrustMode"), 2);
    num(im, F("usbMode"), 3);
    num(im, F("groupCapBays"), 7);
    num(im, F("groupCap"), 1000);
    num(im, F("groupInterval"), 8);
    num(im, F("groupKi"), -9);
    num(im, F("groupMaxKi"), 10);
    num(im, F("groupKp"), 11);
    num(im, F("groupKd"), 12);
    num(im, F("groupDeratedCircuit"), 13);
    num(im, F("groupRatedCircuit"), 14);
    text(im, F("certsMD5"), "abc");
    text(im, F("configMD5"), "def");
    num(im, F("strictPasswordsEnabled"), 1);
    num(im, F("minPasswordLength"), 8);
    text(im, F("syslogServerAddress"), "10.1.1.1");
    num(im, F("syslogServerPort"), 514);
    num(im, F("remoteLogEnabled"), 1);
    num(im, F("powerdelayStatus"), 1);
    num(im, F("sessionTimeout"), 5);
    num(im, F("tcpTimeout"), 65535);
    const std::uint8_t id[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    std::memcpy(settings::bytes(im.data(), F("solutionsID")).data(), id, 8);
    num(im, F("bannerEnabled"), 255);
    num(im, F("featureBits"), 0x14);  // autoResetServer and sysNameFlag
    num(im, F("interconnectDelays"), -1, 0);
    num(im, F("interconnectDelays"), 300, 7);
    num(im, F("serverDelays"), -32768, 47);
    num(im, F("baudRate"), 115200);
    num(im, F("SSLSessionCacheTimeout"), 300);

    EXPECT_EQ(wrenconf(im),
              "enclosureName=Encl\\ 1\\.A\nrackName=Rack-7\nproductAssetTag=Tag_9\nTZ=CET-1CEST\nkeysExist=200\n"
              "lcdPin=123456\nlcdForceNewPinCode=1\nwizardCompleteFlag=0xAB\npowerUpFlag=1\n"
              "pwrRedundancyConfig=2\npwrMode=3\npwrCeiling=-5\nlcdButtonLock=1\nlcdUserNotes='Rack^row 2'\n"
              "pduPartNumber=PDU-1\nzelmarName=ZELMAR-0011\nssoTrustMode=2\nusbMode=3\ngroupCap=1000\n"
              "groupCapBays=7\ngroupInterval=8\ngroupKi=-9\ngroupMaxKi=10\ngroupKp=11\ngroupKd=12\n"
              "groupDeratedCircuit=13\ngroupRatedCircuit=14\ncertsMD5=abc\nconfigMD5=def\n"
              "strictPasswordsEnabled=1\nminPasswordLength=8\nsyslogServerAddress=10.1.1.1\n"
              "syslogServerPort=514\nremoteLogEnabled=1\npowerdelayStatus=1\nsessionTimeout=5\n"
              "tcpTimeout=65535\nsolutionsID=0123456789ABCDEF\nbannerEnabled=255\nautoResetServer=1\n"
              "interconnectDelays=-1,0,0,0,0,0,0,300\nserverDelays=" + zeros(47) + ",-32768\n"
              "baudRate=115200\nsysNameFlag=1\nSSLSessionCacheTimeout=300\n");
}

TEST(Wrenconf, TcpTimeoutHasAFloorOfTenAndSessionTimeoutNone)
{
    Image im = blank();
    for (auto [stored, written] : {std::pair{0, "10"}, {9, "10"}, {10, "10"}, {11, "11"}}) {
        num(im, F("tcpTimeout"), stored);
        EXPECT_EQ(line(wrenconf(im), "tcpTimeout"), std::string("tcpTimeout=") + written) << stored;
    }
    EXPECT_EQ(line(wrenconf(im), "sessionTimeout"), "sessionTimeout=0");
    EXPECT_EQ(settings::get_u(im.data(), F("tcpTimeout")), 11u);
}

TEST(Wrenconf, NotesLoseTheirQuotesAndKeepEverythingElse)
{
    Image im = blank();
    text(im, F("lcdUserNotes"), "He said \"hi\"^`date`^it's ok");
    EXPECT_EQ(line(wrenconf(im), "lcdUserNotes"), "lcdUserNotes='He said hi^date^its ok'");
    text(im, F("lcdUserNotes"), "");
    EXPECT_EQ(line(wrenconf(im), "lcdUserNotes"), "lcdUserNotes=''");
}

TEST(Wrenconf, LineBreaksInValuesCannotForgeKeys)
{
    Image im = blank();
    text(im, F("rackName"), "R1\nbaudRate=1");
    text(im, F("lcdUserNotes"), "a\r\nb");
    text(im, F("enclosureName"), "E\nF");
    std::string f = wrenconf(im);
    EXPECT_EQ(line(f, "rackName"), "rackName=R1baudRate=1");
    EXPECT_EQ(line(f, "lcdUserNotes"), "lcdUserNotes='ab'");
    EXPECT_EQ(line(f, "enclosureName"), "enclosureName=EF");
    EXPECT_EQ(std::count(f.begin(), f.end(), '\n'), 45);
}

TEST(Wrenconf, EnclosureNameIsEscapedWholeAndLeavesTheImageAlone)
{
    Image im = blank();
    EXPECT_EQ(line(wrenconf(im), "enclosureName"), "enclosureName=");

    // 33 characters fill the field without a NUL; only 32 count, and every
    // one of them is escaped: 64 characters, none of rackName's.
    std::string name(33, '.');
    std::memcpy(im.data() + F("enclosureName").offset, name.data(), 33);
    text(im, F("rackName"), "RK");
    Image before = im;
    std::string f = wrenconf(im);
    std::string escaped;
    for (int k = 0; k < 32; ++k)
        escaped += "\\.";
    EXPECT_EQ(line(f, "enclosureName"), "enclosureName=" + escaped);
    EXPECT_EQ(line(f, "rackName"), "rackName=RK");
    EXPECT_EQ(im, before);
}

TEST(EncName, EscapeMarksAllButLettersDigitsHyphenAndUnderscore)
{
    char name[33] = "a-b_C9 x.y\\z\xC3\xA9";
    EXPECT_EQ(escape_enc_name(name), name);
    EXPECT_STREQ(name, "a-b_C9\\ x\\.y\\\\z\\\xC3\\\xA9");
    EXPECT_EQ(escape_enc_name(nullptr), nullptr);
    EXPECT_EQ(unescape_enc_name(nullptr), nullptr);
    char empty[33] = "";
    EXPECT_STREQ(escape_enc_name(empty), "");
}

TEST(EncName, InPlaceEscapingNeverLeavesItsThirtyThreeBytes)
{
    // A guard after the caller's 33 bytes must survive any name.
    char buffer[34 + 8];
    std::memset(buffer, 'G', sizeof buffer);
    std::memcpy(buffer, "a b c d e f g h i j k l m n o p q", 33);  // no NUL within 33
    escape_enc_name(buffer);
    EXPECT_EQ(std::string(buffer + 33, 9), std::string(9, 'G'));
    // Pairs are never split: 32 characters at most, ending on a whole pair.
    EXPECT_STREQ(buffer, "a\\ b\\ c\\ d\\ e\\ f\\ g\\ h\\ i\\ j\\ k");
}

TEST(EncName, UnescapeUndoesEscapeAndDropsStrayBackslashes)
{
    for (const char *original : {"Encl 1.A", "x\\y", "abc", "ab cd ef gh ij"}) {
        char name[33] = {};
        std::strcpy(name, original);
        unescape_enc_name(escape_enc_name(name));
        EXPECT_STREQ(name, original);
    }
    char stray[33] = "a\\b\\\\c\\";
    EXPECT_STREQ(unescape_enc_name(stray), "ab\\c");
}

namespace {

std::string netconf(const Image &im)
{
    OutputBuffer out;
    compose_netconf(im.data(), convert_netconf_addresses(im.data()), out);
    return std::string(out.text());
}

void ipv6(Image &im, settings::Field f, const char *text_form, unsigned index = 0, int prefix = -1)
{
    std::uint8_t *p = settings::record(im.data(), f, index);
    ASSERT_EQ(inet_pton(AF_INET6, text_form, p), 1);
    if (prefix >= 0)
        p[16] = static_cast<std::uint8_t>(prefix);
}

} // namespace

TEST(Netconf, EveryKeyInOrderWithItsFormatting)
{
    Image im = blank();
    num(im, F("dhcpFlag"), 1);
    num(im, F("dyndnsFlag"), 0);
    const std::uint8_t ip[4] = {10, 0, 0, 1}, mask[4] = {255, 255, 255, 0};
    std::memcpy(settings::bytes(im.data(), F("ipAddress")).data(), ip, 4);
    std::memcpy(settings::bytes(im.data(), F("netMask")).data(), mask, 4);
    num(im, F("ipv6Flags"), 0x0B);
    ipv6(im, F("ipv6StaticAddress"), "2001:db8::1", 0, 64);
    ipv6(im, F("ipv6StaticAddress"), "fe80::abcd:1", 2, 128);
    ipv6(im, F("ipv6Dns1"), "2001:db8::53");
    ipv6(im, F("ipv6StaticDefaultGateway"), "fe80::1");
    ipv6(im, F("ipv6StaticRouteDestination"), "2001:db8:1::", 1, 48);
    ipv6(im, F("ipv6StaticRouteGateway"), "fe80::2", 1);
    text(im, F("ntpServer1"), "ntp.example");
    num(im, F("ntpPoll"), 64);
    // ipAllow1 IPv4 192.168.1.0, ipAllow2 IPv6, ipAllow3 all zero (IPv4).
    std::uint8_t *a1 = settings::record(im.data(), F("ipAllow"), 0);
    a1[12] = 192, a1[13] = 168, a1[14] = 1, a1[15] = 0, a1[16] = 24;
    ipv6(im, F("ipAllow"), "2001:db8::", 1, 32);
    text(im, F("emailRecv"), "ops@example");
    text(im, F("emailServer"), "mail.example");
    text(im, F("emailDomain"), "example");
    text(im, F("senderEmail"), "em@example");
    text(im, F("senderName"), "Encl \"7\" `x` 'y'");
    num(im, F("httpFlag"), 1);
    num(im, F("snmpFlag"), 1);
    num(im, F("llfInterval"), 3600);
    num(im, F("nicSpeed"), -1);
    num(im, F("nicDuplex"), 2);
    text(im, F("ipswapMidplaneSerialNo"), "MID1");
    text(im, F("ipswapZelmarBuddySerialNo"), "BUD2");
    num(im, F("guiLoginDetailFlag"), 1);
    num(im, F("vigilSystem"), 200);
    num(im, F("featureBits"), 0xA9);  // KivuFederation, ipv6DyndnsFlag, fqdnEnabled, ocsp

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
    num(im, F("ntpPoll"), -1);
    EXPECT_EQ(line(netconf(im), "ntpPoll"), "ntpPoll=-1");
}

TEST(Netconf, EnclosureFeatureBitsDoNotChangeIt)
{
    Image im = blank();
    std::string before = netconf(im);
    num(im, F("featureBits"), 0x14);
    EXPECT_EQ(netconf(im), before);
}

TEST(Netconf, LineBreaksInValuesCannotForgeKeys)
{
    Image im = blank();
    text(im, F("ntpServer1"), "ntp\nhttpFlag=1");
    text(im, F("senderName"), "A\nB");
    std::string f = netconf(im);
    EXPECT_EQ(line(f, "ntpServer1"), "ntpServer1=ntphttpFlag=1");
    EXPECT_EQ(line(f, "senderName"), "senderName='AB'");
    EXPECT_EQ(line(f, "httpFlag"), "httpFlag=0");
}

namespace {

std::string snmpd(const Image &im)
{
    OutputBuffer out;
    compose_snmpd_conf(im.data(), out);
    return std::string(out.text());
}

} // namespace

TEST(SnmpdConf, CommunitiesTwiceAndTrapSinksForSetReceiversOnly)
{
    Image im = blank();
    text(im, F("syslocation"), "Lab 3");
    text(im, F("syscontact"), "ops");
    text(im, F("rocommunity"), "public");
    text(im, F("rwcommunity"), "private");
    text(im, F("trapReceivers"), "10.0.0.5", 2);
    text(im, F("trapCommunities"), "t2", 2);
    text(im, F("trapReceivers"), "10.0.0.9", 5);
    text(im, F("trapCommunities"), "t5", 5);
    text(im, F("trapCommunities"), "unused", 3);
    text(im, F("trapReceivers"), "10.0.0.7", 7);
    EXPECT_EQ(snmpd(im),
              "syslocation Lab 3\nsyscontact ops\nrocommunity public\nrocommunity6 public\n"
              "rwcommunity private\nrwcommunity6 private\n"
              "trapsink 10.0.0.5 t2\ntrapsink 10.0.0.9 t5\ntrapsink 10.0.0.7 \n");
}

TEST(SnmpdConf, EmptyValuesKeepTheirKeywordsAndLineBreaksAreDropped)
{
    Image im = blank();
    EXPECT_EQ(snmpd(im), "syslocation \nsyscontact \nrocommunity \nrocommunity6 \nrwcommunity \nrwcommunity6 \n");
    text(im, F("syscontact"), "a\nrwcommunity evil");
    text(im, F("trapReceivers"), "h\n", 0);
    EXPECT_EQ(snmpd(im), "syslocation \nsyscontact arwcommunity evil\nrocommunity \nrocommunity6 \nrwcommunity \n"
                         "rwcommunity6 \ntrapsink h \n");
}
