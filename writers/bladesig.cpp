// /etc/bladesig and /etc/mlninfo: blocks kept in the image for other
// services, copied out byte for byte.
#include "store/nvram.h"
#include "writers/compose.h"
#include "writers/writers.h"

using namespace settings;

namespace {

// Every element of the field, as stored.
void append_bytes(std::string &out, const std::uint8_t *image, Field f)
{
    out.append(reinterpret_cast<const char *>(image + f.offset), f.width());
}

} // namespace

std::string compose_bladesig(const std::uint8_t *image)
{
    std::string out;
    append_bytes(out, image, F("bladeSignatures1"));
    append_bytes(out, image, F("bladeSignatures2"));
    return out;
}

std::string compose_mlninfo(const std::uint8_t *image)
{
    std::string out;
    append_bytes(out, image, F("mlnInfo"));
    return out;
}

void write_blade_signatures_to_fs(void)
{
    write_config_file({"/etc/bladesig", 0644, "Can't create bladesig file", 1,
                       "Can't write to bladesig file", 1},
                      compose_bladesig(settings_image));
}

void write_mln_settings_to_fs(void)
{
    write_config_file({"/etc/mlninfo", 0644, "Can't create mlninfo file", 1,
                       "Can't write to mlninfo file", 1},
                      compose_mlninfo(settings_image));
}
