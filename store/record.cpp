#include "store/record.h"

#include "platform/platform.h"
#include "store/crc32.h"
#include "store/log.h"
#include "store/replace.h"
#include "store/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr char kMagic[8] = {'C', 'F', 'G', 'W', 'R', 'E', 'C', '1'};
constexpr std::size_t kWord = 4;

std::size_t record_size(std::size_t size)
{
    return sizeof kMagic + kWord + 2 * size + kWord;
}

void put_word(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t get_word(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

bool same(Bytes a, Bytes b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// Some devices and file systems cannot sync; what they hold is as durable
// as it gets.
int sync_fd(int fd)
{
    return ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
}

int write_device(int fd, Bytes bytes)
{
    int err = pwrite_all(fd, bytes.data(), bytes.size(), 0);
    return err != 0 ? err : sync_fd(fd);
}

// Up to `limit` bytes of the record file of `device`, if it is one this
// program can have written: a regular file of root's (or this user's), that
// no one else may write. `trusted` tells which; none when there is no file.
std::optional<std::vector<std::uint8_t>> read_record(const platform::Location &at, std::size_t limit,
                                                     bool &trusted)
{
    platform::Fd fd(::openat(at.dir, at.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd && errno == ENOENT)
        return std::nullopt;
    if (!fd) {  // a link or a FIFO is no record of ours
        trusted = false;
        return std::vector<std::uint8_t>{};
    }
    trusted = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid()) &&
              (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    std::vector<std::uint8_t> bytes(trusted ? limit : 0);
    std::size_t got = 0;
    ssize_t n = 0;
    while (got < bytes.size() && (n = ::pread(fd.get(), bytes.data() + got, bytes.size() - got,
                                              static_cast<off_t>(got))) > 0)
        got += static_cast<std::size_t>(n);
    bytes.resize(got);
    return bytes;
}

// Makes `bytes` durable under the record's name: written, synced, its folder
// synced. No temporary name: the record's checksum tells a cut one, and a
// killed run leaves nothing that only a later write would clear. 0 or an errno.
int write_record(const platform::Location &at, Bytes bytes)
{
    ::unlinkat(at.dir, at.name.c_str(), 0);  // a link planted there is not written through
    platform::Fd fd(::openat(at.dir, at.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    int err = fd ? pwrite_all(fd.get(), bytes.data(), bytes.size(), 0) : errno;
    if (err == 0 && ::fsync(fd.get()) != 0)
        err = errno;
    platform::Fd dir(err == 0 ? ::openat(at.dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    if (err == 0)
        err = dir ? sync_fd(dir.get()) : errno;
    if (err != 0 && fd)
        ::unlinkat(at.dir, at.name.c_str(), 0);
    return err;
}

// The copy a restore keeps has no checksum: it replaces the last one by a rename.
int replace_durably(const platform::Location &at, Bytes bytes)
{
    TempFile temp(at.dir, at.name, false);
    int err = temp.error();
    if (err == 0)
        err = temp.fill({reinterpret_cast<const char *>(bytes.data()), bytes.size()}, 0600, nullptr);
    if (err == 0)
        err = temp.rename_over(at.name);
    if (err != 0)
        return err;
    platform::Fd dir(::openat(at.dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir ? sync_fd(dir.get()) : errno;
}

int at_module_path(const char *module_path, int (*write)(const platform::Location &, Bytes), Bytes bytes)
{
    std::optional<platform::Location> at = platform::locate(module_path);
    return at ? write(*at, bytes) : errno;
}

void remove_record(const RecordedDevice &device)
{
    if (std::optional<platform::Location> at = platform::locate(device.record().c_str()))
        ::unlinkat(at->dir, at->name.c_str(), 0);
}

} // namespace

std::string RecordedDevice::record() const
{
    return std::string(platform::kPersistentFolder) + "/" + record_name;
}

std::string RecordedDevice::saved() const
{
    return std::string(platform::kPersistentFolder) + "/" + (saved_name ? saved_name : "");
}

std::vector<std::uint8_t> encode_record(Bytes old, Bytes next)
{
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    out.reserve(record_size(old.size()));
    put_word(out, static_cast<std::uint32_t>(old.size()));
    out.insert(out.end(), old.begin(), old.end());
    out.insert(out.end(), next.begin(), next.end());
    put_word(out, crc32_update(0, out.data(), out.size()));
    return out;
}

std::optional<Record> decode_record(Bytes file, std::size_t size)
{
    if (file.size() != record_size(size) || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0 ||
        get_word(file.data() + sizeof kMagic) != size)
        return std::nullopt;
    std::size_t body = file.size() - kWord;
    if (crc32_update(0, file.data(), body) != get_word(file.data() + body))
        return std::nullopt;
    const std::uint8_t *old = file.data() + sizeof kMagic + kWord;
    return Record{{old, old + size}, {old + size, old + 2 * size}};
}

bool is_tear(Bytes device, Bytes old, Bytes next)
{
    auto text = [](Bytes b) { return std::string_view(reinterpret_cast<const char *>(b.data()), b.size()); };
    return device.size() == old.size() && device.size() == next.size() &&
           torn_piece(text(device), text(old), text(next));
}

PendingWrite pending_write(const RecordedDevice &device, Bytes now)
{
    std::optional<platform::Location> at = platform::locate(device.record().c_str());
    bool trusted = false;
    std::optional<std::vector<std::uint8_t>> file =
        at ? read_record(*at, record_size(device.size) + 1, trusted) : std::nullopt;
    if (!file)
        return {};
    std::optional<Record> record = trusted ? decode_record(*file, device.size) : std::nullopt;
    if (!trusted)
        return {Pending::Untrusted, {}};
    if (!record)
        return {Pending::Damaged, {}};
    if (!is_tear(now, record->old, record->next))
        return {Pending::Stale, {}};
    return {Pending::Finish, std::move(record->next)};
}

int settle_pending_write(const RecordedDevice &device, std::span<std::uint8_t> now)
{
    PendingWrite pending = pending_write(device, now);
    switch (pending.state) {
    case Pending::None:
        return 0;
    case Pending::Untrusted:
        log_event(LOG_ERR, "Write record %s dropped: not root's own, or others may write it.\n", device.record().c_str());
        break;
    case Pending::Damaged:  // cut while it was written: the device was not touched yet
        log_event(LOG_NOTICE, "Write record %s dropped: incomplete or damaged.\n", device.record().c_str());
        break;
    case Pending::Stale:
        log_event(LOG_NOTICE, "Write record %s dropped: %s has been written since.\n", device.record().c_str(), device.path);
        break;
    case Pending::Finish:
        if (!same(now, pending.next)) {
            platform::Fd fd(platform::open(device.path, O_WRONLY | O_CLOEXEC));
            if (int err = fd ? write_device(fd.get(), pending.next) : errno) {
                log_event(LOG_ERR, "Unfinished write of %s not finished: %s\n", device.path, std::strerror(err));
                return err;
            }
            std::copy(pending.next.begin(), pending.next.end(), now.begin());
        }
        log_event(LOG_NOTICE, "Unfinished write of %s finished from %s.\n", device.path, device.record().c_str());
        break;
    }
    remove_record(device);
    return 0;
}

int write_recorded(const RecordedDevice &device, int fd, Bytes next)
{
    std::vector<std::uint8_t> old(device.size);
    ssize_t n = ::pread(fd, old.data(), old.size(), 0);
    if (n < 0)
        return errno;
    bool recorded = false;
    if (!same(old, next)) {  // a write of the same bytes tears nothing
        int err = static_cast<std::size_t>(n) == old.size() ? at_module_path(device.record().c_str(), write_record, encode_record(old, next))
                                                            : EIO;
        if (err != 0)
            log_event(LOG_ERR, "Writing %s without a record of the write: %s: %s\n", device.path, device.record().c_str(),
                      std::strerror(err));
        recorded = err == 0;
    }
    int err = write_device(fd, next);
    if (err == 0 && recorded)
        remove_record(device);
    return err;
}

int keep_replaced_image(const RecordedDevice &device, Bytes bytes)
{
    return device.saved_name ? at_module_path(device.saved().c_str(), replace_durably, bytes) : EINVAL;
}
