#include "tools/cfgimage/image_file.h"

#include "store/lock.h"
#include "store/record.h"
#include "store/replace.h"
#include "store/write_all.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace cfgimage {

namespace {

std::string failure(const std::string &path, const char *what, int err)
{
    return path + ": " + what + ": " + std::strerror(err);
}

std::string_view bytes(const RawImage &raw)
{
    return {reinterpret_cast<const char *>(raw.data()), raw.size()};
}

// A file of the given path's directory: "." for a bare name.
platform::Fd directory_of(const std::string &path, std::string &base)
{
    std::size_t slash = path.rfind('/');
    base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return platform::Fd(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

std::optional<std::string> create_new(const std::string &path, const RawImage &raw)
{
    std::string base;
    platform::Fd dir = directory_of(path, base);
    if (!dir)
        return failure(path, "cannot create a temporary file", errno);
    std::optional<ReplaceFailure> failed = replace_in(dir.get(), base, bytes(raw), 0644, true);
    if (int err = failed ? 0 : sync_changed_directories())
        failed = ReplaceFailure{ReplaceStep::Write, err};
    if (!failed)
        return std::nullopt;
    return failure(path, failed->step == ReplaceStep::Create ? "cannot create a temporary file" : "cannot write",
                   failed->error);
}

// A complete copy of the new image beside the target of `path` (a link
// followed): the disk has taken all of it before the image is overwritten.
struct Copy {
    platform::Fd dir;
    std::optional<TempFile> file;  // goes before its directory
};

std::optional<std::string> copy_beside(const std::string &path, const RawImage &raw, Copy &copy)
{
    char *real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return failure(path, "cannot create a temporary file", errno);
    std::string base;
    copy.dir = directory_of(real, base);
    std::free(real);
    if (!copy.dir)
        return failure(path, "cannot create a temporary file", errno);
    copy.file.emplace(copy.dir.get(), base, true);
    if (copy.file->error() != 0)
        return failure(path, "cannot create a temporary file", copy.file->error());
    if (int err = copy.file->fill(bytes(raw), 0600, nullptr))
        return failure(path, "cannot write", err);
    return std::nullopt;
}

} // namespace

Decoded decode_all(const RawImage &raw)
{
    Decoded d;
    RawImage work = raw;
    for (std::size_t block = 0; block < kNvramBlocks; ++block) {
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
    if (settings::get_u(d.image.data(), settings::F("version")) != settings::kCurrentVersion)
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
         " of " + std::to_string(kNvramBlocks) + " codewords uncorrectable";
    if (d.uncorrectable.empty())
        s += std::string(magic_accepted(d.image.data()) ? ", magic accepted" : ", magic not accepted") +
             ", version " + std::to_string(settings::get_u(d.image.data(), settings::F("version")));
    return s;
}

ImageFile::ImageFile(const std::string &path, Access access)
    : path_(path), name_(path.empty() ? platform::path("/dev/env") : path)
{
    int flags = (access == Edit ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    fd_.reset(path.empty() ? platform::open("/dev/env", flags) : ::open(path.c_str(), flags | O_NONBLOCK));
    struct stat st {};
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) {
        open_error_ = errno;
        fd_.reset();
        return;
    }
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) {
        open_error_ = ENXIO;  // a FIFO would be waited on, a directory holds no image
        fd_.reset();
        return;
    }
    ::fcntl(fd_.get(), F_SETFL, ::fcntl(fd_.get(), F_GETFL) & ~O_NONBLOCK);
    regular_ = S_ISREG(st.st_mode);
    module_ = path.empty() || platform::is_module_file("/dev/env", st);
    if (!module_) {
        // Two edits at once would each write its own copy: one would be lost.
        ::flock(fd_.get(), access == Edit ? LOCK_EX : LOCK_SH);
        return;
    }
    // The settings lock before the device's, in the order cfgpull takes them.
    if (access == Edit)
        lock_error_ = env_lock_take(&settings_lock_);
    if (!lock_error_)
        ::flock(fd_.get(), LOCK_EX);
}

ImageFile::~ImageFile()
{
    fd_.reset();  // the device's flock goes with its descriptor
    if (settings_lock_ >= 0)
        env_lock_release(&settings_lock_);
}

std::optional<std::string> ImageFile::unusable() const
{
    if (!fd_)
        return open_error_ == ENXIO ? name_ + ": not a regular file or a device; refused"
                                    : failure(name_, "cannot open", open_error_);
    if (lock_error_)
        return name_ + ": " + *lock_error_;
    return std::nullopt;
}

std::optional<std::string> ImageFile::read(RawImage &raw)
{
    if (auto why = unusable())
        return why;
    struct stat st {};
    if (::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size != static_cast<off_t>(raw.size()))
        return name_ + ": " + std::to_string(st.st_size) + " bytes; a settings image has " + std::to_string(raw.size());
    std::size_t got = 0;
    int err = 0;
    while (got < raw.size()) {
        ssize_t n = ::pread(fd_.get(), raw.data() + got, raw.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            err = errno;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (err != 0)
        return failure(name_, "cannot read", err);
    if (got != raw.size())
        return name_ + ": only " + std::to_string(got) + " bytes; a settings image has " + std::to_string(raw.size());
    return module_ ? settle(raw) : std::nullopt;
}

std::optional<std::string> ImageFile::settle(RawImage &raw)
{
    if (settings_lock_ >= 0) {  // an edit: as a load would, before the bytes are used
        int err = settle_pending_write(kEnvDevice, raw);
        settled_ = err == 0;
        return err == 0 ? std::nullopt : std::optional<std::string>(failure(name_, "cannot finish its cut write", err));
    }
    // A read never writes: it says what the next load will do, and shows
    // the bytes that load will use.
    PendingWrite pending = pending_write(kEnvDevice, raw);
    std::string record = platform::path(kEnvDevice.record().c_str());
    if (pending.state == Pending::Finish) {
        std::copy(pending.next.begin(), pending.next.end(), raw.begin());
        std::cerr << "cfgimage: " << name_ << ": a write was cut; the next load finishes it from " << record
                  << ", and what it will hold is read\n";
    } else if (pending.state == Pending::Unreadable) {
        std::cerr << "cfgimage: " << name_ << ": a write record is pending in " << record
                  << ", which this user cannot read\n";
    } else if (pending.state != Pending::None) {
        std::cerr << "cfgimage: " << name_ << ": the next load drops " << record
                  << (pending.state == Pending::Stale     ? ", which the device no longer matches\n"
                      : pending.state == Pending::Damaged ? ", incomplete or damaged\n"
                                                          : ", not root's own or writable by others\n");
    }
    return std::nullopt;
}

std::optional<std::string> ImageFile::write(SettingsImage &image)
{
    RawImage raw{};
    encode_image(image.data(), raw.data());
    if (!fd_ && open_error_ == ENOENT && !path_.empty())
        return create_new(path_, raw);
    if (auto why = unusable())
        return why;
    if (module_) {
        RawImage now{};
        if (auto error = settled_ ? std::nullopt : read(now))  // new writes without reading first
            return error;
        DeviceWrite written = write_recorded(kEnvDevice, fd_.get(), raw);
        if (written.error == 0)
            return std::nullopt;
        std::string why = failure(name_, "cannot write", written.error);
        return written.pending ? why + "; the next load finishes the write from " +
                                     platform::path(kEnvDevice.record().c_str())
                               : why;
    }
    Copy copy;
    if (regular_)
        if (auto error = copy_beside(path_, raw, copy))
            return error;
    int err = ::lseek(fd_.get(), 0, SEEK_SET) == 0 ? write_all(fd_.get(), raw.data(), raw.size()) : errno;
    if (err == 0 && regular_ && ::fsync(fd_.get()) != 0)
        err = errno;
    return err == 0 ? std::nullopt : std::optional<std::string>(failure(name_, "cannot write", err));
}

std::optional<std::string> write_image(const std::string &path, SettingsImage &image)
{
    return ImageFile(path, ImageFile::Edit).write(image);
}

} // namespace cfgimage
