#include "writers/outputs.h"

#include "settings/image.h"
#include "store/exit.h"
#include "store/replace.h"
#include "writers/netconf.h"
#include "writers/snmpd.h"
#include "writers/wrenconf.h"

#include <cerrno>
#include <cstdio>

namespace {

const settings::UserLayout &users_by_hash(const std::uint8_t *image, const ComposeInput &in)
{
    return *choose_user_layout(image, in.fips, true).layout;
}

constexpr OutputFile kOutputs[] = {
    {"/etc/wrenconf", 0664, "Can't create wrenconf file", -1, "Can't write enclosure configuration file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) { compose_wrenconf(image, out); }},
    {"/etc/netconf", 0664, "Can't create netconf file", 1, "Can't write net configuration file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) {
         compose_netconf(image, convert_netconf_addresses(image), out);
     }},
    {"/etc/snmp/snmpd.conf", 0664, "Can't create snmpd.conf file", 1, "Can't write net configuration file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &log) {
         compose_snmpd_conf(image, out, log);
     }},
    {"/etc/passwd", 0664, "Can't read/write user file", 1, "Can't write user/passwords to system file", 1,
     [](std::uint8_t *image, const ComposeInput &in, OutputBuffer &out, LogEntries &log) {
         const settings::UserLayout &users = users_by_hash(image, in);
         compose_passwd(image, users, in.kept, out, log);
         pin_admin_record(image, users);
     }},
    {"/etc/group", 0664, "Can't create group file", 1, "Can't write groups to system file", 1,
     [](std::uint8_t *image, const ComposeInput &in, OutputBuffer &out, LogEntries &log) {
         const settings::UserLayout &users = users_by_hash(image, in);
         pin_admin_record(image, users);
         compose_group(image, users, out, log);
     }},
    // Unlike the passwd and group files, the stored hash does not decide the layout here.
    {"/etc/bayconf", 0664, "Can't create bayconf file", 1, "Can't write groups to system file", 1,
     [](std::uint8_t *image, const ComposeInput &in, OutputBuffer &out, LogEntries &log) {
         compose_bayconf(image, *choose_user_layout(image, in.fips, false).layout, out, log);
     }},
    {"/etc/bladesig", 0644, "Can't create bladesig file", 1, "Can't write to bladesig file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) {
         out.append_text(compose_bladesig(image));
     }},
    {"/etc/mlninfo", 0644, "Can't create mlninfo file", 1, "Can't write to mlninfo file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) {
         out.append_text(compose_mlninfo(image));
     }},
    {"/etc/ldapconf", 0664, "Can't create ldapconf file", -1, "Can't write ldap configuration file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) { compose_ldapconf(image, out); }},
    {"/etc/ldapgroup", 0664, "Can't create ldap file", 1, "Can't write ldap users to system file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &log) {
         compose_ldapgroup(image, out, log);
     }},
    {"/etc/urb.conf", 0664, "Can't create urb file", 1, "Can't write urb data to system file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) { compose_urb(image, out); }},
    {"/etc/firmwaremgmt.conf", 0664, "Can't create firmware management file", 1,
     "Error writing to firmware management conf file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) { compose_fw_mgmt(image, out); }},
    {"/etc/KAT.info", 0664, "Can't create KAT info file", 1, "Error writing to KAT info file", 1,
     [](std::uint8_t *image, const ComposeInput &, OutputBuffer &out, LogEntries &) { compose_kat_info(image, out); }},
};

} // namespace

const OutputFile &output(Output file)
{
    return kOutputs[static_cast<int>(file)];
}

std::span<const OutputFile> outputs()
{
    return kOutputs;
}

void write_config_file(const OutputFile &file, std::string_view text)
{
    std::optional<ReplaceFailure> failed = replace_file(file.path, text, file.mode);
    if (!failed)
        return;
    errno = failed->error;
    bool created = failed->step == ReplaceStep::Write;
    std::perror(created ? file.write_error : file.create_error);
    cleanup_and_exit(created ? file.write_status : file.create_status);
}

void write_output(Output file, const ComposeInput &in)
{
    const OutputFile &f = output(file);
    LogEntries log;
    output_buffer.clear();
    f.compose(settings_image, in, output_buffer, log);
    emit(log);
    write_config_file(f, output_buffer.text());
}
