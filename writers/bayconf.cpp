// /etc/bayconf: which bays each account id may manage, as two masks.
#include "settings/image.h"
#include "writers/compose.h"
#include "writers/outputs.h"
#include "writers/writers.h"

using namespace settings;

namespace {

constexpr std::uint32_t kAllBays = 0xFFFFFFFFu;

// Accounts that manage every bay unless the table says otherwise.
constexpr unsigned kRootId = fixed_id("wren"), kAdminId = 1, kMlnuserId = fixed_id("mlnuser_"),
                   kKstuserId = fixed_id("kstuser_");

void add_line(OutputBuffer &out, unsigned id, std::uint32_t mask1, std::uint32_t mask2)
{
    out.append("%u=%lu %lu\n", id, static_cast<unsigned long>(mask1),
               static_cast<unsigned long>(mask2));
}

} // namespace

void compose_bayconf(const std::uint8_t *image, const UserLayout &layout, OutputBuffer &out,
                     LogEntries &log)
{
    bool root_listed = false, mlnuser_listed = false, kstuser_listed = false;
    // Keyed by id, so a record's name forges nothing here: every record is
    // written, and one that holds a fixed id narrows that account's bays.
    unsigned count = user_records_to_walk(image, layout, log);
    for (unsigned i = 0; i < count; ++i) {
        const std::uint8_t *rec = record(image, layout.records, i);
        unsigned id = get_u(rec, layout.id);
        root_listed |= id == kRootId;
        mlnuser_listed |= id == kMlnuserId;
        kstuser_listed |= id == kKstuserId;
        if (id == kAdminId)
            add_line(out, id, kAllBays, kAllBays);
        else
            add_line(out, id, get_u(rec, layout.bayMask1), get_u(image, F("userBayMask2"), i));
    }
    if (!root_listed)
        add_line(out, kRootId, kAllBays, kAllBays);
    if (!mlnuser_listed)
        add_line(out, kMlnuserId, kAllBays, kAllBays);
    if (!kstuser_listed)
        add_line(out, kKstuserId, kAllBays, kAllBays);

    unsigned groups = group_records_to_walk(image, log);
    for (unsigned j = 0; j < groups; ++j) {
        const std::uint8_t *rec = record(image, F("ldapGroupRecords"), j);
        add_line(out, get_u(rec, Group("ldapGroupId")), get_u(rec, Group("ldapGroupBayMask1")),
                 get_u(image, F("ldapGroupBayMask2"), j));
    }
}

void write_bay_settings_to_fs(void)
{
    bool fips = false;
    if (!read_fips_mode(fips, "Unable to determine FIPS mode. Unable to retrieve bay config settings\n"))
        return;
    write_output(Output::Bayconf, {fips, {}});
}
