// Raw NVRAM images as files: reading one, decoding every codeword for a
// report, and writing one whole.
#pragma once

#include "platform/platform.h"
#include "settings/layout.h"
#include "settings/image.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cfgimage {

using RawImage = std::array<std::uint8_t, kRawImageSize>;
using SettingsImage = std::array<std::uint8_t, settings::kImageSize>;

// Every codeword decoded, not only those up to the first failure.
struct Decoded {
    SettingsImage image{};                       // uncorrectable blocks as stored
    std::array<int, kNvramBlocks> corrected{};   // bytes per codeword; -1 uncorrectable
    int corrected_total = 0;
    std::vector<int> uncorrectable;
};
Decoded decode_all(const RawImage &raw);

// What `check` tells, from the worst: see the README's exit statuses.
enum class Health { Clean = 0, Corrected = 1, Uncorrectable = 2, Unformatted = 3, OtherVersion = 4 };
Health health(const Decoded &d);
std::string health_summary(const Decoded &d);

// One image for the length of a command; "" names the module's /dev/env.
// The module's device (no IMAGE, or an IMAGE that is that file) is held
// under its flock from open to close, and an edit of it under the settings
// lock too, so that no cfgpull or cfgpush run falls between the read and
// the write. Any other image is held under its own flock, shared to read
// and exclusive to edit, so that two edits at once lose neither. What is neither a regular file nor a device (a FIFO, a socket,
// a directory) is refused at once, never waited on.
class ImageFile {
public:
    enum Access { Read, Edit };
    ImageFile(const std::string &path, Access access);
    ~ImageFile();
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    const std::string &name() const { return name_; }  // as messages show it

    // Reads exactly one raw image; the error is one line naming the file.
    // The module's device is read as the next load will find it.
    std::optional<std::string> read(RawImage &raw);

    // Encodes the image (its pad zeroed) and writes it in place in one
    // write, which keeps a file's owner, mode, links and the target of a
    // link to it. A regular image file first gets a complete copy of the new
    // image beside it (removed after), so a full disk or a failing write
    // stops before the image is touched; the module's device is written
    // through the record of its write, as cfgpull writes it. A new
    // file is made through a temporary file and a rename.
    std::optional<std::string> write(SettingsImage &image);

private:
    // Why the image can be neither read nor written, if so: it did not
    // open, or the settings lock was not had.
    std::optional<std::string> unusable() const;
    // The module's device: a write a power cut left unfinished is settled
    // (an edit) or reported (a read).
    std::optional<std::string> settle(RawImage &raw);

    std::string path_, name_;
    platform::Fd fd_;
    int open_error_ = 0;
    std::optional<std::string> lock_error_;
    bool module_ = false, regular_ = false, settled_ = false;
    int settings_lock_ = -1;
};

// A new or existing image file written whole, as ImageFile::write does.
std::optional<std::string> write_image(const std::string &path, SettingsImage &image);

} // namespace cfgimage
