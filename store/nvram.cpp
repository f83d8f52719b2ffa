#include "store/nvram.h"

#include "platform/platform.h"
#include "store/exit.h"
#include "store/lock.h"
#include "store/log.h"
#include "store/write_all.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

unsigned char raw_nvram_image[kRawImageSize];

namespace {

const char kDevice[] = "/dev/env";

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
    int fd = platform::open(kDevice, O_RDONLY);
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
}

void nvram_write(int *slot)
{
    int fd = platform::open(kDevice, O_WRONLY);
    if (fd < 0)
        write_failed(slot, "Can't open /dev/env", 267, errno);
    flock(fd, LOCK_EX);
    // A short write would leave a mix of old and new codewords: not a success.
    int err = write_all(fd, raw_nvram_image, kRawImageSize);
    flock(fd, LOCK_UN);
    ::close(fd);
    if (err != 0)
        write_failed(slot, "Write to /dev/env failed", 279, err);
}
