// /etc/ldapgroup: the directory groups in passwd format.
#include "store/nvram.h"
#include "writers/compose.h"
#include "writers/writers.h"

using namespace settings;

namespace {

const char kFile[] = "/etc/ldapgroup";

} // namespace

void compose_ldapgroup(const std::uint8_t *image, OutputBuffer &out, LogEntries &log)
{
    for (unsigned j : group_accounts(image, group_records_to_walk(image, log), kFile, log)) {
        const std::uint8_t *rec = record(image, F("ldapGroupRecords"), j);
        std::string name(get_text(rec, Group("ldapGroupName")));
        std::string description = account_text(get_text(rec, Group("ldapGroupDescription")));
        if (description != get_text(rec, Group("ldapGroupDescription")))
            note_cleaned(log, "directory group table", j, kFile, "its description cleaned");
        out.append("%s:x:%u:%u:%s:/:/usr/bin/cli\n", name.c_str(),
                   get_u(rec, Group("ldapGroupId")), get_u(rec, Group("ldapGroupPrivilege")),
                   description.c_str());
    }
}

void write_ldap_group_settings_to_fs(void)
{
    LogEntries log;
    output_buffer.clear();
    compose_ldapgroup(settings_image, output_buffer, log);
    emit(log);
    write_config_file({kFile, 0664, "Can't create ldap file", 1,
                       "Can't write ldap users to system file", 1},
                      output_buffer.text());
}
