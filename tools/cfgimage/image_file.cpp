#include "tools/cfgimage/image_file.h"

#include "store/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cfgimage {

namespace {

std::string failure(const std::string &path, const char *what, int err)
{
    return path + ": " + what + ": " + std::strerror(err);
}

// Writes all of `raw` to a new file beside `path`, then renames it over.
std::optional<std::string> replace_file(const std::string &path, const RawImage &raw, mode_t mode)
{
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0)
        return failure(path, "cannot create a temporary file", errno);
    int err = write_all(fd, raw.data(), raw.size());
    if (err == 0 && fchmod(fd, mode) != 0)
        err = errno;
    if (err == 0 && fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return failure(path, "cannot write", err);
    }
    return std::nullopt;
}

std::optional<std::string> write_device(const std::string &path, const RawImage &raw)
{
    int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return failure(path, "cannot open", errno);
    int err = write_all(fd, raw.data(), raw.size());
    if (::close(fd) != 0 && err == 0)
        err = errno;
    return err == 0 ? std::nullopt : std::optional<std::string>(failure(path, "cannot write", err));
}

} // namespace

Decoded decode_all(const RawImage &raw)
{
    Decoded d;
    RawImage work = raw;
    for (std::size_t block = 0; block < NVRAM_BLOCKS; ++block) {
        int n = correct_block(work.data(), block);
        copy_block(work.data(), d.image.data(), block);  // as stored when uncorrectable
        d.corrected[block] = n;
        if (n < 0)
            d.uncorrectable.push_back(static_cast<int>(block));
        else
            d.corrected_total += n;
    }
    return d;
}

Health health(const Decoded &d)
{
    if (!d.uncorrectable.empty())
        return Health::Uncorrectable;
    if (!magic_accepted(d.image.data()))
        return Health::Unformatted;
    if (settings::get_u(d.image.data(), settings::F("version")) != settings::CURRENT_VERSION)
        return Health::OtherVersion;
    return d.corrected_total > 0 ? Health::Corrected : Health::Clean;
}

std::string health_summary(const Decoded &d)
{
    std::string s;
    switch (health(d)) {
    case Health::Clean: s = "clean"; break;
    case Health::Corrected: s = "corrected"; break;
    case Health::Uncorrectable: s = "uncorrectable"; break;
    case Health::Unformatted: s = "unformatted"; break;
    case Health::OtherVersion: s = "other version"; break;
    }
    s += ": " + std::to_string(d.corrected_total) + " bytes corrected, " + std::to_string(d.uncorrectable.size()) +
         " of " + std::to_string(NVRAM_BLOCKS) + " codewords uncorrectable";
    if (d.uncorrectable.empty())
        s += std::string(magic_accepted(d.image.data()) ? ", magic accepted" : ", magic not accepted") +
             ", version " + std::to_string(settings::get_u(d.image.data(), settings::F("version")));
    return s;
}

std::optional<std::string> read_raw(const std::string &path, RawImage &raw)
{
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return failure(path, "cannot open", errno);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size != static_cast<off_t>(raw.size())) {
        ::close(fd);
        return path + ": " + std::to_string(st.st_size) + " bytes; a settings image has " +
               std::to_string(raw.size());
    }
    std::size_t got = 0;
    int err = 0;
    while (got < raw.size()) {
        ssize_t n = ::read(fd, raw.data() + got, raw.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            err = errno;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (err != 0)
        return failure(path, "cannot read", err);
    if (got != raw.size())
        return path + ": only " + std::to_string(got) + " bytes; a settings image has " + std::to_string(raw.size());
    return std::nullopt;
}

std::optional<std::string> write_image(const std::string &path, SettingsImage &image)
{
    RawImage raw{};
    encode_image(image.data(), raw.data());
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return failure(path, "cannot stat", errno);
        mode_t mask = umask(0);
        umask(mask);
        return replace_file(path, raw, 0644 & ~mask);
    }
    if (S_ISREG(st.st_mode))
        return replace_file(path, raw, st.st_mode & 07777);
    return write_device(path, raw);
}

} // namespace cfgimage
