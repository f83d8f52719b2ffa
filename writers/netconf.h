// /etc/netconf, the network file. The network writer produces it and then
// the SNMP agent's file (writers/snmpd.h).
#pragma once

#include "writers/output.h"

#include <cstdint>
#include <string>

// Addresses whose text the platform library gives (ip_helper_ntop).
struct NetconfAddresses {
    std::string ipv6Dns1, ipv6Dns2, ipv6StaticDefaultGateway;
    std::string ipAllow[5];
};

// Converts the library-form addresses of the image. An allow-list entry
// whose first byte is 0 holds an IPv4 address in its last four address bytes.
NetconfAddresses convert_netconf_addresses(const std::uint8_t *image);

// The text of /etc/netconf.
void compose_netconf(const std::uint8_t *image, const NetconfAddresses &addresses, OutputBuffer &out);
