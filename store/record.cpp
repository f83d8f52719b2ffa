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
constexpr std::uint8_t kErased = 0xFF;

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

// From offset 0, synced; a device that cannot sync holds the bytes as
// durably as it gets.
int write_device(int fd, Bytes bytes)
{
    int err = pwrite_all(fd, bytes.data(), bytes.size(), 0);
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = errno;
    return err;
}

// Whether the open record is one this program can have written: a regular
// file of its own, root's (or this user's), that no one else may write.
bool own_record(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_uid == 0 || st.st_uid == ::geteuid()) &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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
    if (err == 0)
        err = sync_directory(at.dir);
    if (err != 0 && fd)
        ::unlinkat(at.dir, at.name.c_str(), 0);
    return err;
}

// Durably: a record that came back after a power cut could finish a write
// over another writer's later one.
void remove_record(const RecordedDevice &device)
{
    std::optional<platform::Location> at = platform::locate(device.record().c_str());
    if (at && ::unlinkat(at->dir, at->name.c_str(), 0) == 0)
        sync_directory(at->dir);
}

// Writes a record's new bytes over its device, opened anew: the loads that
// finish a write have closed or locked their own descriptor.
int finish_write(const RecordedDevice &device, Bytes next)
{
    platform::Fd fd(platform::open(device.path, O_WRONLY | O_CLOEXEC));
    return fd ? write_device(fd.get(), next) : errno;
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
    if (device.size() != old.size() || device.size() != next.size())
        return false;
    for (std::size_t i = 0; i < device.size(); ++i)
        if (device[i] != old[i] && device[i] != next[i] && device[i] != kErased)
            return false;
    return true;
}

bool has_record(const RecordedDevice &device)
{
    std::optional<platform::Location> at = platform::locate(device.record().c_str());
    struct stat st {};
    return at && ::fstatat(at->dir, at->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

PendingWrite pending_write(const RecordedDevice &device, Bytes now)
{
    std::optional<platform::Location> at = platform::locate(device.record().c_str());
    platform::Fd fd(at ? ::openat(at->dir, at->name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
    if (!fd)  // a link or a FIFO is no record of ours
        return {!at || errno == ENOENT ? Pending::None : errno == EACCES ? Pending::Unreadable : Pending::Untrusted, {}};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !own_record(st))
        return {Pending::Untrusted, {}};
    std::vector<std::uint8_t> file(record_size(device.size));
    std::optional<Record> record;
    if (st.st_size == static_cast<off_t>(file.size()) && pread_all(fd.get(), file.data(), file.size(), 0) == 0)
        record = decode_record(file, device.size);
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
    case Pending::Unreadable:
        log_event(LOG_ERR, "Write record %s dropped: not root's own, or others may write it.\n", device.record().c_str());
        break;
    case Pending::Damaged:  // cut while it was written: the device was not touched yet
        log_event(LOG_NOTICE, "Write record %s dropped: incomplete or damaged.\n", device.record().c_str());
        break;
    case Pending::Stale:
        log_event(LOG_NOTICE, "Write record %s dropped: %s has been written since.\n", device.record().c_str(), device.path);
        break;
    case Pending::Finish:
        if (std::ranges::equal(now, pending.next)) {  // cut after the device's write, before the record went
            log_event(LOG_NOTICE, "Write record %s dropped: %s holds its new bytes.\n", device.record().c_str(),
                      device.path);
            break;
        }
        if (int err = finish_write(device, pending.next)) {
            log_event(LOG_ERR, "Unfinished write of %s not finished: %s\n", device.path, std::strerror(err));
            return err;
        }
        std::copy(pending.next.begin(), pending.next.end(), now.begin());
        log_event(LOG_NOTICE, "Unfinished write of %s finished from %s.\n", device.path, device.record().c_str());
        break;
    }
    remove_record(device);
    return 0;
}

DeviceWrite write_recorded(const RecordedDevice &device, int fd, Bytes next)
{
    std::vector<std::uint8_t> old(device.size);
    int err = pread_all(fd, old.data(), old.size(), 0);
    bool recorded = false;
    if (err != 0 || !std::ranges::equal(old, next)) {  // a write of the same bytes tears nothing
        std::optional<platform::Location> at = platform::locate(device.record().c_str());
        if (err == 0)
            err = at ? write_record(*at, encode_record(old, next)) : errno;
        if (err != 0)
            log_event(LOG_ERR, "Writing %s without a record of the write: %s: %s\n", device.path,
                      device.record().c_str(), std::strerror(err));
        recorded = err == 0;
    }
    int written = write_device(fd, next);
    // A write that failed before the device changed failed whole: its record goes.
    std::vector<std::uint8_t> now(device.size);
    bool unchanged = written != 0 && pread_all(fd, now.data(), now.size(), 0) == 0 && now == old;
    if (recorded && (written == 0 || unchanged)) {
        remove_record(device);
        recorded = false;
    }
    return {written, recorded};
}

int keep_replaced_image(const RecordedDevice &device, Bytes bytes)
{
    if (device.saved_name == nullptr)
        return EINVAL;
    // Synced at once, not at the run's end: a restore reboots the module.
    std::optional<ReplaceFailure> failed = replace_file(
        device.saved().c_str(), {reinterpret_cast<const char *>(bytes.data()), bytes.size()}, 0600);
    return failed ? failed->error : sync_changed_directories();
}
