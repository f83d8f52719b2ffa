// /etc/group: the four privilege groups and their members from the user table.
#include "store/log.h"
#include "settings/image.h"
#include "writers/compose.h"
#include "writers/outputs.h"
#include "writers/writers.h"

#include <string>
#include <vector>

using namespace settings;

namespace {

struct Member {
    std::string name;
    unsigned privilege;
};

// The accounts that member lists can hold, in table order. Record 0 is the
// built-in administrator and always counts as privilege 0.
std::vector<Member> members(const std::uint8_t *image, const UserLayout &layout, LogEntries &log)
{
    std::vector<Member> list;
    unsigned count = user_records_to_walk(image, layout, log);
    for (unsigned i : user_accounts(image, layout, count, NameUse::Member, output(Output::Group).path, log)) {
        const std::uint8_t *rec = record(image, layout.records, i);
        list.push_back({std::string(get_text(rec, layout.name)), i == 0 ? 0 : get_u(rec, layout.privilege)});
    }
    return list;
}

// "name," for every member whose privilege is `low` or `high`.
std::string names_with(const std::vector<Member> &list, unsigned low, unsigned high)
{
    std::string s;
    for (const Member &m : list)
        if (m.privilege == low || m.privilege == high)
            s += m.name + ",";
    return s;
}

// A member list without its trailing comma, ended by the newline.
std::string closed(std::string names)
{
    if (!names.empty() && names.back() == ',')
        names.pop_back();
    return names + "\n";
}

} // namespace

void compose_group(const std::uint8_t *image, const UserLayout &layout, OutputBuffer &out,
                   LogEntries &log)
{
    std::vector<Member> list = members(image, layout, log);
    out.append_text("wren::0:wren\nnobody::99:\n");
    // The interconnect manager's service account administers too; the admin
    // line has always kept its trailing comma.
    out.append_text("admin::0:" + names_with(list, 0, 0) + "mlnuser_,\n");
    out.append_text("oper::1:" + closed(names_with(list, 1, 0) + "mlnuser_,"));
    out.append_text("user::2:" + closed(names_with(list, 2, 2)));
    out.append_text("anonymous::3:" + closed(names_with(list, 3, 3)));
}

void write_group_settings_to_fs(void)
{
    bool fips = false;
    if (!read_fips_mode(fips, "Unable to determine FIPS mode. Unable to retrieve group settings\n"))
        return;
    LayoutChoice choice = choose_user_layout(settings_image, fips, true);
    if (choice.by_hash)
        log_event(LOG_ERR, "write_group_settings_to_fs: FIPS MODE OFF but password hash is FIPS based");
    write_output(Output::Group, {fips, {}});
}
