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
#include <cstdlib>
#include <cstring>

unsigned char settings_image[settings::IMAGE_SIZE];
unsigned char raw_nvram_image[RAW_IMAGE_SIZE];

namespace {

const char kDevice[] = "/dev/env";
constexpr settings::Field kPad = settings::F("pad");
constexpr settings::Field kMagic = settings::F("magic");


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
    return rs_decode(raw + block * RS_N);
}

void copy_block(const unsigned char *raw, unsigned char *image, std::size_t block)
{
    std::memcpy(image + block * RS_K, raw + block * RS_N, RS_K);
}

DecodeResult decode_raw_image(unsigned char *raw, unsigned char *image)
{
    DecodeResult result{0, -1};
    for (std::size_t i = 0; i < NVRAM_BLOCKS; ++i) {
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

void zero_pad(unsigned char *image)
{
    std::memset(image + kPad.offset, 0, kPad.width());
}

void encode_image(unsigned char *image, unsigned char *raw)
{
    zero_pad(image);
    for (std::size_t i = 0; i < NVRAM_BLOCKS; ++i) {
        unsigned char *codeword = raw + i * RS_N;
        std::memcpy(codeword, image + i * RS_K, RS_K);
        rs_encode(codeword, codeword + RS_K);
    }
}

bool magic_accepted(const unsigned char *image)
{
    const unsigned char *m = image + kMagic.offset;
    if (std::memcmp(m, "ZRN", 3) == 0 || std::memcmp(m, "002", 3) == 0)
        return true;
    char text[4] = {static_cast<char>(m[0]), static_cast<char>(m[1]), static_cast<char>(m[2]), '\0'};
    return std::atoi(text) != 0;
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
    ssize_t n = ::read(fd, raw_nvram_image, RAW_IMAGE_SIZE);
    flock(fd, LOCK_UN);
    ::close(fd);
    if (n != static_cast<ssize_t>(RAW_IMAGE_SIZE)) {
        std::puts("Error reading from NVRAM");
        env_lock_release(slot);
        end_run(1);
    }
}

void nvram_store(int *slot)
{
    encode_image(settings_image, raw_nvram_image);
    int fd = platform::open(kDevice, O_WRONLY);
    if (fd < 0)
        write_failed(slot, "Can't open /dev/env", 267, errno);
    flock(fd, LOCK_EX);
    // A short write would leave a mix of old and new codewords: not a success.
    int err = write_all(fd, raw_nvram_image, RAW_IMAGE_SIZE);
    flock(fd, LOCK_UN);
    ::close(fd);
    if (err != 0)
        write_failed(slot, "Write to /dev/env failed", 279, err);
}
