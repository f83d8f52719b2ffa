// /etc/snmp/snmpd.conf: the SNMP agent's identity, communities and trap
// destinations, written right after /etc/netconf.
#pragma once

#include "writers/output.h"
#include "writers/user_table.h"

#include <cstdint>

// The text of the file: the six-line block, then one trapsink line for each
// trap receiver that is set, in index order. Values are written so that the
// agent reads them exactly; what its syntax cannot hold is written in the
// closest form it reads, or for a trapsink word, its line left out, and
// said once in `log` (never a community).
void compose_snmpd_conf(const std::uint8_t *image, OutputBuffer &out, LogEntries &log);
