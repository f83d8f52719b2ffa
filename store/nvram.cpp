#include "store/nvram.h"

#include "platform/platform.h"
#include "store/exit.h"
#include "store/lock.h"
#include "store/log.h"
#include "store/record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

unsigned char raw_nvram_image[kRawImageSize];
const RecordedDevice kEnvDevice{"/dev/env", kRawImageSize, ".env.pending", "env.before-restore"};

namespace {

[[noreturn]] void write_failed(int *slot, const char *message, int step, int err)
{
    std::puts(message);
    log_event(LOG_ERR, "NVRAM write failed: %d:%d\n", step, err);
    env_lock_release(slot);
    end_run(-1);
}

} // namespace

int correct_block(unsigned char *raw, std::size_t block)
{
    return rs_decode(raw + block * kRsN);
}

void copy_block(const unsigned char *raw, unsigned char *image, std::size_t block)
{
    std::memcpy(image + block * kRsK, raw + block * kRsN, kRsK);
}

DecodeResult decode_raw_image(unsigned char *raw, unsigned char *image)
{
    DecodeResult result{0, -1};
    for (std::size_t i = 0; i < kNvramBlocks; ++i) {
        int n = correct_block(raw, i);
        if (n < 0) {
            result.failed_block = static_cast<int>(i);
            return result;
        }
        copy_block(raw, image, i);
        result.corrected += n;
    }
    return result;
}

void encode_blocks(const unsigned char *data, unsigned char *raw)
{
    for (std::size_t i = 0; i < kNvramBlocks; ++i) {
        unsigned char *codeword = raw + i * kRsN;
        std::memcpy(codeword, data + i * kRsK, kRsK);
        rs_encode(codeword, codeword + kRsK);
    }
}

void nvram_read(int *slot)
{
    int fd = platform::open(kEnvDevice.path, O_RDONLY);
    if (fd < 0) {
        std::puts("Can't open /dev/env");
        env_lock_release(slot);
        end_run(1);
    }
    flock(fd, LOCK_EX);
    ssize_t n = ::read(fd, raw_nvram_image, kRawImageSize);
    flock(fd, LOCK_UN);
    ::close(fd);
    if (n != static_cast<ssize_t>(kRawImageSize)) {
        std::puts("Error reading from NVRAM");
        env_lock_release(slot);
        end_run(1);
    }
    // A write cut by a power failure is finished before anything reads the bytes.
    if (int err = settle_pending_write(kEnvDevice, raw_nvram_image))
        write_failed(slot, "Write to /dev/env failed", 279, err);
}

void nvram_write(int *slot)
{
    // Read too: the record of the write keeps what the device held.
    int fd = platform::open(kEnvDevice.path, O_RDWR);
    if (fd < 0)
        write_failed(slot, "Can't open /dev/env", 267, errno);
    flock(fd, LOCK_EX);
    // A short write would leave a mix of old and new codewords: not a success.
    int err = write_recorded(kEnvDevice, fd, raw_nvram_image).error;
    flock(fd, LOCK_UN);
    ::close(fd);
    if (err != 0)
        write_failed(slot, "Write to /dev/env failed", 279, err);
}
