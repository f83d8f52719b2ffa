// The files cfgpull writes (writers/outputs.h), composed from an image
// without writing the module's own.
#pragma once

#include "writers/outputs.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cfgimage {

struct RenderedFile {
    const char *path;  // module path
    mode_t mode;       // as cfgpull creates it
    std::string text;
    LogEntries log;    // what cfgpull would have logged composing it
};

// Every file, composed from its own copy of `image` as a load would give it.
std::vector<RenderedFile> render_files(const std::uint8_t *image, const ComposeInput &input);

// The service-account password fields of the passwd file below `dir`; none
// when it is missing.
KeptPasswords kept_passwords_below(const std::string &dir);

// Writes each file under `dir` (creating the directories it needs), or
// returns a one-line error.
std::optional<std::string> write_rendered(const std::string &dir, std::span<const RenderedFile> files);

} // namespace cfgimage
