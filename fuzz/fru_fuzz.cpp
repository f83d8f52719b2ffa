// FRU and identity records of any content through their decoding. Every
// buffer is a heap block of exactly the size the reader may use, so a read
// or write past it is caught.
//
// Input: a selector byte, then the bytes of a type/length field (copied into
// a block of exactly 1 + its length), then a common header and a chassis area
// (256 bytes each, as read from the EEPROM), then an identity record.
#include "fuzz_check.h"

#include "board/board.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kEepromRead = 256;

// The next `n` input bytes, zero-padded when the input runs out.
std::vector<unsigned char> take(const std::uint8_t *&data, std::size_t &size, std::size_t n)
{
    std::vector<unsigned char> out(n, 0);
    std::size_t k = std::min(n, size);
    if (k > 0)
        std::memcpy(out.data(), data, k);
    data += k;
    size -= k;
    return out;
}

void decode_field(const unsigned char *field, int size)
{
    std::unique_ptr<char[]> out(size > 0 ? new char[static_cast<std::size_t>(size)] : nullptr);
    int rc = fru_decode_field(field, out.get(), size);
    if (size < 1) {
        FUZZ_CHECK(rc == -6);
        return;
    }
    FUZZ_CHECK(rc == 0 || rc == -6);
    if (rc == 0)
        FUZZ_CHECK(std::memchr(out.get(), 0, static_cast<std::size_t>(size)) != nullptr);
    else
        FUZZ_CHECK((field[0] >> 6) == 0);
}

// Sets the last byte of `bytes` so that all of them sum to 0 modulo 256.
void fix_sum(unsigned char *bytes, std::size_t n)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < n; ++i)
        sum += bytes[i];
    bytes[n - 1] = static_cast<unsigned char>(-sum);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::uint8_t selector = *data++;
    --size;

    std::vector<unsigned char> type_length = take(data, size, 1);
    std::size_t length = type_length[0] & 0x3Fu;
    std::vector<unsigned char> body = take(data, size, length);
    std::unique_ptr<unsigned char[]> field(new unsigned char[1 + length]);
    field[0] = type_length[0];
    std::copy(body.begin(), body.end(), field.get() + 1);
    for (int out_size : {0, 1, 2, 3, static_cast<int>(kFruPartSize), static_cast<int>(kFruSerialSize), 64,
                         selector % 70})
        decode_field(field.get(), out_size);

    std::vector<unsigned char> header = take(data, size, kEepromRead);
    std::vector<unsigned char> area = take(data, size, kEepromRead);
    if (selector & 0x80) {  // checksums made to hold, so the fields get decoded
        fix_sum(header.data(), 8);
        area[0] = 1;
        area[1] = static_cast<unsigned char>(std::clamp(area[1] % 33, 1, 32));
        fix_sum(area.data(), area[1] * std::size_t{8});
    }
    unsigned address = 0;
    int rc = fru_chassis_area_address(header.data(), &address);
    FUZZ_CHECK(rc == 0 || rc == -7);

    std::unique_ptr<char[]> strings(new char[kFruStringsSize]);
    rc = fru_decode_chassis_area(area.data(), strings.get());
    FUZZ_CHECK(rc == 0 || rc == -3 || rc == -7);
    if (rc == 0) {
        FUZZ_CHECK(std::memchr(strings.get() + kFruSerialOffset, 0, kFruSerialSize) != nullptr);
        FUZZ_CHECK(std::memchr(strings.get() + kFruPartOffset, 0, kFruPartSize) != nullptr);
    }

    std::vector<unsigned char> identity = take(data, size, kBoardIdentitySize);
    unsigned sum = 0;
    for (unsigned char b : identity)
        sum += b;
    FUZZ_CHECK(identity_checksum_ok(identity.data()) == (sum % 256 == 0));

    int type = -1;
    std::vector<unsigned char> rest = take(data, size, size);
    (void)parse_board_type(std::string_view(reinterpret_cast<const char *>(rest.data()), rest.size()), &type);
    return 0;
}
