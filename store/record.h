// A device written in place (/dev/env, /dev/uboot) holds the module's only
// copy of what it stores, and a power cut inside the write leaves the first
// bytes new and the rest old. So before a device is written, the write is
// recorded, durably, beside the account files: the device's old bytes, its
// new bytes and a checksum. The next load under the settings lock finds the
// record; if the device holds a tear of exactly those two (each byte the old
// or the new one at its place), the write is finished, otherwise another
// writer has been there since and the record is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A device written through a record; its files are kept in the platform's
// persistent folder.
struct RecordedDevice {
    const char *path;         // "/dev/env"
    std::size_t size;         // bytes written from offset 0
    const char *record_name;  // ".env.pending"
    const char *saved_name;   // the copy a factory restore keeps, or null

    std::string record() const;  // "/etc/.env.pending"
    std::string saved() const;
};

using Bytes = std::span<const std::uint8_t>;

// Pure: the record file of a write of `next` over `old` (equal sizes), and
// back; a record that is cut, too short, of another size or whose checksum
// fails gives none.
std::vector<std::uint8_t> encode_record(Bytes old, Bytes next);
struct Record {
    std::vector<std::uint8_t> old, next;
};
std::optional<Record> decode_record(Bytes file, std::size_t size);

// Pure: whether `device` is what a write of `next` over `old` cut at any
// byte leaves: each byte the old or the new one at its place, or erased
// (0xFF), where a flash device was cut between erasing and programming.
bool is_tear(Bytes device, Bytes old, Bytes next);

// What a load found of a device's record.
enum class Pending {
    None,       // no record: the last write ended
    Finish,     // a cut write: the device must take the record's new bytes
    Stale,      // the device holds neither: another writer wrote it since
    Damaged,    // cut while it was made (its device untouched), or damaged
    Untrusted,  // not root's own, or others may write it: never read
    Unreadable, // this user may not read it (a read-only command not run as root)
};
struct PendingWrite {
    Pending state = Pending::None;
    std::vector<std::uint8_t> next;  // for Finish
};
// Reads the record of `device` and judges `now`, what the device holds.
// Costs one failed open when there is none.
PendingWrite pending_write(const RecordedDevice &device, Bytes now);

// Whether `device` has a record, at the cost of one look.
bool has_record(const RecordedDevice &device);

// Settles a record under the settings lock, before the device is used:
// finishes the write (and `now` takes the new bytes) or drops the record, with
// a LOG_NOTICE line either way. 0, or the errno of a failed device write (the
// record then stays for the next load).
int settle_pending_write(const RecordedDevice &device, std::span<std::uint8_t> now);

// Writes `next` over the device open at `fd` (read-write, at any offset)
// through its record: the old bytes read, the record made durable, the device
// written from offset 0 and synced, the record removed. When the record
// cannot be made the write still goes ahead, logged at LOG_ERR: the settings
// must reach the device. A failed write whose device still holds its old
// bytes drops the record: it failed whole. Otherwise the record stays
// (`pending`), and the next load finishes the write.
struct DeviceWrite {
    int error = 0;  // of the device's write or sync
    bool pending = false;
};
DeviceWrite write_recorded(const RecordedDevice &device, int fd, Bytes next);

// Keeps `bytes`, a device's content that a factory restore is about to
// replace, durably as the device's one saved copy (the latest only): 0 or
// an errno.
int keep_replaced_image(const RecordedDevice &device, Bytes bytes);
