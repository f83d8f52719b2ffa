// Any text imported into an image (with and without --fips and --force):
// no crash, no read outside a buffer; a text with a bad line leaves the
// image as it was, and the image a text leaves exports to a text that
// imports into a blank image to the same export.
#include "fuzz_check.h"

#include "tools/cfgimage/text_form.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace cfgimage;
    const TextOptions options{true, size % 2 == 1, size % 3 == 0};
    SettingsImage image{}, again{};
    if (!import_text(image, std::string_view(reinterpret_cast<const char *>(data), size), options).empty()) {
        FUZZ_CHECK(image == SettingsImage{});
        return 0;
    }
    std::string text = export_text(image.data(), options);
    FUZZ_CHECK(import_text(again, text, {true, options.fips, true}).empty());
    FUZZ_CHECK(export_text(again.data(), options) == text);
    return 0;
}
