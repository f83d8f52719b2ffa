#include "writers/snmpd.h"

#include "settings/layout.h"
#include "store/log.h"
#include "writers/outputs.h"
#include "writers/values.h"

#include <cstdio>

using settings::F;
using settings::get_text;

namespace {

// Said once for each value written otherwise than stored, or whose trapsink
// line is left out; `index` < 0 for fields that are not arrays.
void note(LogEntries &log, const char *field, int index, const char *what, bool written_without = true)
{
    char name[32], text[192];
    std::snprintf(name, sizeof name, index < 0 ? "%s" : "%s[%d]", field, index);
    std::snprintf(text, sizeof text, "%s: %s %s%s\n", output(Output::SnmpdConf).path, name, what,
                  written_without ? ", which the SNMP agent cannot read; written without"
                                  : "; its trapsink line is left out");
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
        std::string_view host = get_text(image, F("trapReceivers"), k);
        std::string_view community = get_text(image, F("trapCommunities"), k);
        if (host.empty())
            continue;  // an empty entry names no destination
        // Only as stored: a word changed to fit would name a destination,
        // or a community, that nobody set.
        if (const char *why = writers::snmp_word_fault(host, true)) {
            note(log, "trapReceivers", static_cast<int>(k), why, false);
            continue;
        }
        if (const char *why = writers::snmp_word_fault(community, false)) {
            note(log, "trapCommunities", static_cast<int>(k), why, false);
            continue;
        }
        out.append("trapsink %s %s\n", std::string(host).c_str(), std::string(community).c_str());
    }
}
