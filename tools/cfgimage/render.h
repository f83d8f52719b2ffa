// The files cfgpull writes, composed from an image without writing the
// module's own: one row per file, in the order cfgpull's options write them.
#pragma once

#include "writers/compose.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cfgimage {

struct RenderInput {
    bool fips = false;    // the module's FIPS mode
    KeptPasswords kept;   // service-account password fields of the current passwd
};

struct RenderedFile {
    const char *path;  // module path, e.g. "/etc/passwd"
    mode_t mode;       // as cfgpull creates it
    std::string text;
    LogEntries log;    // what cfgpull would have logged composing it
};

// Every file, composed from its own copy of `image` as a load would give it.
std::vector<RenderedFile> render_files(const std::uint8_t *image, const RenderInput &input);

// The service-account password fields of a passwd file; none when it is missing.
KeptPasswords kept_passwords_from(const std::string &passwd_path);

// Writes each file under `dir` (creating the directories it needs), or
// returns a one-line error.
std::optional<std::string> write_rendered(const std::string &dir, std::span<const RenderedFile> files);

} // namespace cfgimage
