#include "writers/snmpd.h"

#include "settings/layout.h"
#include "store/log.h"
#include "writers/values.h"

using settings::F;
using settings::get_text;

namespace {

void note_closest(LogEntries &log, const std::string &field, const char *why)
{
    log.push_back({LogEntry::Event, LOG_WARNING,
                   "/etc/snmp/snmpd.conf: " + field + " " + why +
                       ", which the SNMP agent cannot read; written without\n"});
}

std::string rest_of_line(const std::uint8_t *image, settings::Field f, LogEntries &log)
{
    std::string text = writers::one_line(get_text(image, f));
    std::string written = writers::snmp_rest_of_line(text);
    if (written != text)
        note_closest(log, f.name, "starts with '#' or whitespace or ends with whitespace");
    return written;
}

std::string trap_word(const std::uint8_t *image, settings::Field f, unsigned k, bool host, LogEntries &log)
{
    std::string text = writers::one_line(get_text(image, f, k));
    std::string written = writers::snmp_word(text, host);
    if (written != text && !(host && written.empty()))  // an empty host is said by the caller
        note_closest(log, std::string(f.name) + "[" + std::to_string(k) + "]",
                     host ? "holds whitespace or starts with '#'" : "holds whitespace");
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
    settings::Field receivers = F("trapReceivers");
    for (unsigned k = 0; k < receivers.count; ++k) {
        if (get_text(image, receivers, k).empty())
            continue;  // an empty entry names no destination
        std::string host = trap_word(image, receivers, k, true, log);
        if (host.empty()) {  // the community would be read as the host
            log.push_back({LogEntry::Event, LOG_WARNING,
                           "/etc/snmp/snmpd.conf: trapReceivers[" + std::to_string(k) +
                               "] names no host the SNMP agent can read; its trapsink line is left out\n"});
            continue;
        }
        out.append("trapsink %s %s\n", host.c_str(), trap_word(image, F("trapCommunities"), k, false, log).c_str());
    }
}
