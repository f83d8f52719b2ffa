// rs_decode on any 255 bytes: either "uncorrectable" with the bytes as they
// were, or a codeword again with as many bytes changed as it reports.
// Input past the first 255 bytes is an error pattern (position, value pairs)
// laid on a fresh codeword of the first 223 bytes: up to 16 errors must all
// be undone, which random words alone would almost never reach.
#include "fuzz_check.h"

#include "store/rs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

bool is_codeword(const unsigned char *word)
{
    unsigned char data[kRsK], check[kRsParity];
    std::memcpy(data, word, kRsK);
    rs_encode(data, check);
    return std::memcmp(check, word + kRsK, kRsParity) == 0;
}

int differing(const unsigned char *a, const unsigned char *b)
{
    int n = 0;
    for (std::size_t i = 0; i < kRsN; ++i)
        n += a[i] != b[i];
    return n;
}

// Decodes `word` in place and checks what the decoder claims.
int checked_decode(unsigned char *word)
{
    unsigned char before[kRsN];
    std::memcpy(before, word, kRsN);
    int n = rs_decode(word);
    if (n < 0) {
        FUZZ_CHECK(n == -1);
        FUZZ_CHECK(std::memcmp(before, word, kRsN) == 0);
    } else {
        FUZZ_CHECK(n <= static_cast<int>(kRsParity / 2));
        FUZZ_CHECK(is_codeword(word));
        FUZZ_CHECK(differing(before, word) == n);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    unsigned char word[kRsN] = {};
    std::memcpy(word, data, std::min(size, kRsN));
    checked_decode(word);

    if (size <= kRsN)
        return 0;
    unsigned char clean[kRsN] = {};
    std::memcpy(clean, data, kRsK);
    rs_encode(clean, clean + kRsK);
    unsigned char noisy[kRsN];
    std::memcpy(noisy, clean, kRsN);
    for (std::size_t i = kRsN; i + 1 < size; i += 2)
        noisy[data[i] % kRsN] ^= data[i + 1];
    int errors = differing(clean, noisy);
    int n = checked_decode(noisy);
    if (errors <= static_cast<int>(kRsParity / 2)) {
        FUZZ_CHECK(n == errors);
        FUZZ_CHECK(std::memcmp(noisy, clean, kRsN) == 0);
    }
    return 0;
}
