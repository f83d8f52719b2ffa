// /etc/snmp/snmpd.conf: the SNMP agent's identity, communities and trap
// destinations, written right after /etc/netconf.
#pragma once

#include "writers/output.h"

#include <cstdint>

// The text of the file: the six-line block, then one trapsink line for each
// trap receiver that is set, in index order.
void compose_snmpd_conf(const std::uint8_t *image, OutputBuffer &out);
