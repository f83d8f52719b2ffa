#include "writers/netconf.h"
#include "writers/snmpd.h"

#include "platform/platform.h"
#include "settings/layout.h"
#include "settings/image.h"
#include "writers/outputs.h"
#include "writers/user_table.h"
#include "writers/values.h"
#include "writers/writers.h"

#include <sys/socket.h>

#include <cstring>

using settings::B;
using settings::F;
using settings::Ipv6Rec;
using writers::number;
using writers::value;

namespace {

constexpr int kDefaultNtpPoll = 720;  // what a stored 0 means

// Numbers written under their field names, in file order.
constexpr settings::Field kServiceNumbers[] = {
    F("httpFlag"), F("sshFlag"), F("telnetFlag"), F("snmpFlag"), F("ntpFlag"), F("ipFlag"), F("emailFlag"),
    F("ebipaSvbFlag"), F("ebipaSwmFlag"), F("xmlReplyFlag"), F("twofactor"), F("crl"), F("llfFlag"),
    F("llfInterval"), F("nicForcedFlag"), F("nicSpeed"), F("nicDuplex"), F("ipswapFlag"),
    F("ipswapConfiguredRole"),
};

// Text of an address from the platform library, read back within its buffer.
std::string library_text(int family, const std::uint8_t *address, std::size_t buffer_size)
{
    char buffer[44] = {};
    std::size_t size = buffer_size < sizeof buffer ? buffer_size : sizeof buffer;
    ip_helper_ntop(family, address, buffer, static_cast<int>(size));
    return std::string(buffer, strnlen(buffer, size));
}

void append_ipv4(OutputBuffer &out, const char *key, const std::uint8_t *image, settings::Field f)
{
    auto a = settings::bytes(image, f);
    out.append("%s=%d.%d.%d.%d\n", key, a[0], a[1], a[2], a[3]);
}

// Eight groups of four lower-case hex digits, no shortening. Written
// digit by digit: a formatting call per group cost more than the rest of
// the file.
void append_full_ipv6(OutputBuffer &out, std::span<const std::uint8_t> a)
{
    constexpr char kHex[] = "0123456789abcdef";
    char text[39];
    std::size_t n = 0;
    for (std::size_t k = 0; k < 16; ++k) {
        if (k > 0 && k % 2 == 0)
            text[n++] = ':';
        text[n++] = kHex[a[k] >> 4];
        text[n++] = kHex[a[k] & 15];
    }
    out.append_text({text, n});
}

// An address-with-prefix record: "key=<full form>/<prefix>".
void append_prefixed(OutputBuffer &out, const char *key, const std::uint8_t *record)
{
    out.append("%s=", key);
    append_full_ipv6(out, settings::bytes(record, Ipv6Rec("address")));
    out.append("/%d\n", number(record, Ipv6Rec("prefix")));
}

void append_prefixed_list(OutputBuffer &out, const char *key, const std::uint8_t *image, settings::Field f)
{
    for (unsigned k = 0; k < f.count; ++k) {
        std::string name = key + std::to_string(k + 1);
        append_prefixed(out, name.c_str(), settings::record(image, f, k));
    }
}

void append_gateways(OutputBuffer &out, const std::uint8_t *image)
{
    settings::Field f = F("ipv6StaticRouteGateway");
    for (unsigned k = 0; k < f.count; ++k) {
        out.append("ipv6StaticRouteGateway%u=", k + 1);
        append_full_ipv6(out, settings::bytes(image, f, k));
        out.append("\n");
    }
}

void append_number(OutputBuffer &out, const char *key, const std::uint8_t *image, settings::Field f)
{
    out.append("%s=%d\n", key, number(image, f));
}

void append_text(OutputBuffer &out, const char *key, const std::uint8_t *image, settings::Field f)
{
    out.append("%s=%s\n", key, value(image, f).c_str());
}

void append_bit(OutputBuffer &out, const std::uint8_t *image, settings::Bit b)
{
    out.append("%s=%d\n", b.name, settings::get_bit(image, b) ? 1 : 0);
}

} // namespace

NetconfAddresses convert_netconf_addresses(const std::uint8_t *image)
{
    NetconfAddresses a;
    a.ipv6Dns1 = library_text(AF_INET6, settings::bytes(image, F("ipv6Dns1")).data(), 44);
    a.ipv6Dns2 = library_text(AF_INET6, settings::bytes(image, F("ipv6Dns2")).data(), 44);
    a.ipv6StaticDefaultGateway =
        library_text(AF_INET6, settings::bytes(image, F("ipv6StaticDefaultGateway")).data(), 40);
    for (unsigned k = 0; k < F("ipAllow").count; ++k) {
        const std::uint8_t *entry = settings::record(image, F("ipAllow"), k);
        a.ipAllow[k] = library_text(entry[0] == 0 ? AF_INET : AF_INET6, entry, 44);
    }
    return a;
}

void compose_netconf(const std::uint8_t *image, const NetconfAddresses &addresses, OutputBuffer &out)
{
    out.clear();
    append_number(out, "dhcpFlag", image, F("dhcpFlag"));
    append_number(out, "dyndnsFlag", image, F("dyndnsFlag"));
    append_ipv4(out, "ipAddress", image, F("ipAddress"));
    append_ipv4(out, "netMask", image, F("netMask"));
    append_ipv4(out, "defaultGateway", image, F("defaultGateway"));
    append_ipv4(out, "dns1", image, F("dns1"));
    append_ipv4(out, "dns2", image, F("dns2"));
    append_bit(out, image, B("ipv6Enabled"));
    append_bit(out, image, B("ipv6DhcpEnabled"));
    append_bit(out, image, B("ipv6RouterAdvEnabled"));
    append_bit(out, image, B("ipv6RaTrafficEnabled"));
    append_prefixed_list(out, "ipv6StaticAddress", image, F("ipv6StaticAddress"));
    out.append("ipv6Dns1=%s\n", writers::one_line(addresses.ipv6Dns1).c_str());
    out.append("ipv6Dns2=%s\n", writers::one_line(addresses.ipv6Dns2).c_str());
    out.append("ipv6StaticDefaultGateway=%s\n", writers::one_line(addresses.ipv6StaticDefaultGateway).c_str());
    append_prefixed_list(out, "ipv6StaticRouteDestination", image, F("ipv6StaticRouteDestination"));
    append_gateways(out, image);
    append_text(out, "ntpServer1", image, F("ntpServer1"));
    append_text(out, "ntpServer2", image, F("ntpServer2"));
    int poll = number(image, F("ntpPoll"));
    out.append("ntpPoll=%d\n", poll == 0 ? kDefaultNtpPoll : poll);
    for (unsigned k = 0; k < F("ipAllow").count; ++k)
        out.append("ipAllow%u=%s\n", k + 1, writers::one_line(addresses.ipAllow[k]).c_str());
    append_text(out, "emailRecv", image, F("emailRecv"));
    append_text(out, "emailServer", image, F("emailServer"));
    append_text(out, "emailDomain", image, F("emailDomain"));
    append_text(out, "senderEmail", image, F("senderEmail"));
    out.append("senderName='%s'\n", writers::without_quotes(image, F("senderName")).c_str());
    for (settings::Field f : kServiceNumbers)
        append_number(out, f.name, image, f);
    append_text(out, "ipswapMidplaneSerialNo", image, F("ipswapMidplaneSerialNo"));
    append_text(out, "ipswapZelmarBuddySerialNo", image, F("ipswapZelmarBuddySerialNo"));
    append_number(out, "guiLoginDetailFlag", image, F("guiLoginDetailFlag"));
    append_number(out, "vigilSystem", image, F("vigilSystem"));
    for (settings::Bit b : {B("KivuFederation"), B("ipv6DyndnsFlag"), B("sshKexDhg1"), B("fqdnEnabled"), B("cac"),
                            B("ocsp")})
        append_bit(out, image, b);
}

void write_network_settings_to_fs(void)
{
    write_output(Output::Netconf);
    write_output(Output::SnmpdConf);
}
