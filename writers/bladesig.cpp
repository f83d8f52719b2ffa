// /etc/bladesig and /etc/mlninfo: blocks kept in the image for other
// services, copied out byte for byte.
#include "settings/image.h"
#include "writers/compose.h"
#include "writers/outputs.h"
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
    write_output(Output::Bladesig);
}

void write_mln_settings_to_fs(void)
{
    write_output(Output::Mlninfo);
}
