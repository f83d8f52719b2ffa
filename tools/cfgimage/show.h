// What `show` prints: one document built from a decoded image, printed as
// JSON or as text.
#pragma once

#include "tools/cfgimage/image_file.h"

#include <nlohmann/json.hpp>

#include <string>

namespace cfgimage {

struct ShowOptions {
    bool secrets = false;  // also secrets and what shows them (see HashBytes)
    bool fips = false;     // read the user table in the FIPS layout
};

// {"decode", "magic", "magicAccepted", "version", ["note"], ["userLayout"],
//  "fields": {name: value | [values] | [records]}, ["bits"]}. Numbers are
// JSON numbers except masks, which are "0x.." texts; hidden secrets are null.
nlohmann::ordered_json show_document(const Decoded &decoded, const ShowOptions &options);

// The same document for a terminal: one line per value, tables as tables.
std::string show_text(const nlohmann::ordered_json &doc);

// Text as printed: control characters, non-ASCII bytes and backslashes escaped.
std::string printable(std::string_view text);

} // namespace cfgimage
