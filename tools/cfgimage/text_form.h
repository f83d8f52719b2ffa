// A module's settings as text: the FIELD=VALUE lines `export` writes and
// `import` reads back, and the difference of two images in the same form.
// Pure functions over images.
#pragma once

#include "tools/cfgimage/fields.h"
#include "tools/cfgimage/image_file.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cfgimage {

// A value as a line carries it: a backslash as "\\", a byte outside
// printable ASCII and a last space as "\xHH"; every other byte as itself.
std::string escape(std::string_view value);
// The bytes back; nothing when a backslash starts neither form.
std::optional<std::string> unescape(std::string_view text);

// Every setting of the current layout, in layout order: the fields, each
// element of an array, each field of each record of the user table the
// image is read in and of the directory group table. The record's frame
// (magic, version, pad) only when asked for.
std::vector<Place> settings_in(const std::uint8_t *image, bool fips, bool frame = false);

struct TextOptions {
    bool secrets = false;  // also secrets and what shows them (see HashBytes)
    bool fips = false;     // the user table as a module in FIPS mode reads it
    bool force = false;    // import: store what edit_refusals() names too
};

// A "#" line naming the layout, then one FIELD=VALUE line per setting.
std::string export_text(const std::uint8_t *image, const TextOptions &options);

struct LineError {
    unsigned line;  // from 1
    std::string reason;
};

// Applies the lines of an export (blank and "#" lines skipped, a later line
// for a place winning) to the image as one edit: on any bad line the image
// is left as it was and every bad line is returned, in order.
std::vector<LineError> import_text(SettingsImage &image, std::string_view text, const TextOptions &options);

struct Difference {
    std::string name;
    std::optional<std::string> old_value, new_value;  // escaped; none: not in that image's user table
    bool hidden = false;                              // a secret, without options.secrets
};

// The settings that differ, in layout order.
std::vector<Difference> diff_settings(const std::uint8_t *old_image, const std::uint8_t *new_image,
                                      const TextOptions &options);
// "FIELD: OLD -> NEW" a line; "(hidden)" for a secret, "(none)" for a side without it.
std::string diff_text(const std::vector<Difference> &differences);
// {FIELD: {"old": OLD, "new": NEW}}: a secret null, a side without it left out.
std::string diff_json(const std::vector<Difference> &differences);

} // namespace cfgimage
