#include "tools/cfgimage/factory_image.h"

namespace cfgimage {

// The factory defaults are not composable outside a load yet.
std::optional<std::string> factory_image(const NewImageOptions &, SettingsImage &)
{
    return std::string("factory defaults are not available in this build");
}

} // namespace cfgimage
