#include "writers/snmpd.h"

#include "settings/layout.h"
#include "store/log.h"
#include "writers/outputs.h"
#include "writers/values.h"

#include <cstdio>

using settings::F;
using settings::get_text;

namespace {

// Said once for each value written otherwise than stored; `index` < 0 for
// fields that are not arrays.
void note(LogEntries &log, const char *field, int index, const char *what, bool written_without = true)
{
    char name[32], text[192];
    std::snprintf(name, sizeof name, index < 0 ? "%s" : "%s[%d]", field, index);
    std::snprintf(text, sizeof text, "%s: %s %s%s\n", output(Output::SnmpdConf).path, name, what,
                  written_without ? ", which the SNMP agent cannot read; written without" : "");
    log.push_back({LogEntry::Event, LOG_WARNING, text});
}

std::string rest_of_line(const std::uint8_t *image, settings::Field f, LogEntries &log)
{
    std::string text = writers::one_line(get_text(image, f));
    std::string written = writers::snmp_rest_of_line(text);
    if (written != text)
        note(log, f.name, -1, "starts with '#' or whitespace or ends with whitespace");
    return written;
}

} // namespace

void compose_snmpd_conf(const std::uint8_t *image, OutputBuffer &out, LogEntries &log)
{
    std::string ro = writers::snmp_community(get_text(image, F("rocommunity")));
    std::string rw = writers::snmp_community(get_text(image, F("rwcommunity")));
    std::string location = rest_of_line(image, F("syslocation"), log);
    std::string contact = rest_of_line(image, F("syscontact"), log);
    out.clear();
    out.append("syslocation %s\nsyscontact %s\nrocommunity %s\nrocommunity6 %s\nrwcommunity %s\nrwcommunity6 %s\n",
               location.c_str(), contact.c_str(), ro.c_str(), ro.c_str(), rw.c_str(), rw.c_str());
    for (unsigned k = 0; k < F("trapReceivers").count; ++k) {
        std::string_view stored = get_text(image, F("trapReceivers"), k);
        if (stored.empty())
            continue;  // an empty entry names no destination
        std::string host = writers::snmp_word(writers::one_line(stored), true);
        std::string community = writers::one_line(get_text(image, F("trapCommunities"), k));
        std::string word = writers::snmp_word(community, false);
        // Without a host the community would be read as one; a first '-'
        // is read as an option (some make the agent crash at start).
        if (host.empty() || host.front() == '-') {
            note(log, "trapReceivers", static_cast<int>(k),
                 host.empty() ? "names no host the SNMP agent can read; its trapsink line is left out"
                              : "starts with '-', which the SNMP agent reads as an option; its trapsink line is left out",
                 false);
            continue;
        }
        if (host != writers::one_line(stored))
            note(log, "trapReceivers", static_cast<int>(k), "holds whitespace or starts with '#'");
        if (word != community)
            note(log, "trapCommunities", static_cast<int>(k), "holds whitespace");
        out.append("trapsink %s %s\n", host.c_str(), word.c_str());
    }
}
