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
    unsigned char data[RS_K], check[RS_PARITY];
    std::memcpy(data, word, RS_K);
    rs_encode(data, check);
    return std::memcmp(check, word + RS_K, RS_PARITY) == 0;
}

int differing(const unsigned char *a, const unsigned char *b)
{
    int n = 0;
    for (std::size_t i = 0; i < RS_N; ++i)
        n += a[i] != b[i];
    return n;
}

// Decodes `word` in place and checks what the decoder claims.
int checked_decode(unsigned char *word)
{
    unsigned char before[RS_N];
    std::memcpy(before, word, RS_N);
    int n = rs_decode(word);
    if (n < 0) {
        FUZZ_CHECK(n == -1);
        FUZZ_CHECK(std::memcmp(before, word, RS_N) == 0);
    } else {
        FUZZ_CHECK(n <= static_cast<int>(RS_PARITY / 2));
        FUZZ_CHECK(is_codeword(word));
        FUZZ_CHECK(differing(before, word) == n);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    unsigned char word[RS_N] = {};
    std::memcpy(word, data, std::min(size, RS_N));
    checked_decode(word);

    if (size <= RS_N)
        return 0;
    unsigned char clean[RS_N] = {};
    std::memcpy(clean, data, RS_K);
    rs_encode(clean, clean + RS_K);
    unsigned char noisy[RS_N];
    std::memcpy(noisy, clean, RS_N);
    for (std::size_t i = RS_N; i + 1 < size; i += 2)
        noisy[data[i] % RS_N] ^= data[i + 1];
    int errors = differing(clean, noisy);
    int n = checked_decode(noisy);
    if (errors <= static_cast<int>(RS_PARITY / 2)) {
        FUZZ_CHECK(n == errors);
        FUZZ_CHECK(std::memcmp(noisy, clean, RS_N) == 0);
    }
    return 0;
}
