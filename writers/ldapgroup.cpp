// /etc/ldapgroup: the directory groups in passwd format.
#include "settings/image.h"
#include "writers/compose.h"
#include "writers/outputs.h"
#include "writers/writers.h"

using namespace settings;

void compose_ldapgroup(const std::uint8_t *image, OutputBuffer &out, LogEntries &log)
{
    const char *file = output(Output::Ldapgroup).path;
    for (unsigned j : group_accounts(image, group_records_to_walk(image, log), file, log)) {
        const std::uint8_t *rec = record(image, F("ldapGroupRecords"), j);
        std::string name(get_text(rec, Group("ldapGroupName")));
        std::string description = account_text(get_text(rec, Group("ldapGroupDescription")));
        if (description != get_text(rec, Group("ldapGroupDescription")))
            note_cleaned(log, "directory group table", j, file, "its description cleaned");
        out.append("%s:x:%u:%u:%s:/:/usr/bin/cli\n", name.c_str(),
                   get_u(rec, Group("ldapGroupId")), get_u(rec, Group("ldapGroupPrivilege")),
                   description.c_str());
    }
}

void write_ldap_group_settings_to_fs(void)
{
    write_output(Output::Ldapgroup);
}
