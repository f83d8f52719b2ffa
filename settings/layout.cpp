#include "settings/layout.h"

#include <cstring>

namespace settings {

const Field *find_field(std::span<const Field> table, std::string_view name)
{
    for (const Field &f : table)
        if (name == f.name)
            return &f;
    return nullptr;
}

std::uint32_t get_u(const std::uint8_t *base, Field f, unsigned index)
{
    const std::uint8_t *p = base + f.at(index);
    std::uint32_t v = 0;
    for (unsigned i = 0; i < f.size && i < 4; ++i)
        v = (v << 8) | p[i];
    return v;
}

std::int32_t get_i(const std::uint8_t *base, Field f, unsigned index)
{
    std::uint32_t v = get_u(base, f, index);
    if (f.size == 1)
        return static_cast<std::int8_t>(v);
    if (f.size == 2)
        return static_cast<std::int16_t>(v);
    return static_cast<std::int32_t>(v);
}

void set_u(std::uint8_t *base, Field f, std::uint32_t value, unsigned index)
{
    std::uint8_t *p = base + f.at(index);
    unsigned n = f.size < 4 ? f.size : 4;
    for (unsigned i = n; i-- > 0;) {
        p[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

void set_i(std::uint8_t *base, Field f, std::int32_t value, unsigned index)
{
    set_u(base, f, static_cast<std::uint32_t>(value), index);
}

std::string_view get_text(const std::uint8_t *base, Field f, unsigned index)
{
    const char *p = reinterpret_cast<const char *>(base + f.at(index));
    const void *nul = std::memchr(p, 0, f.size);
    std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - p) : f.size;
    return {p, n};
}

void set_text(std::uint8_t *base, Field f, std::string_view text, unsigned index)
{
    std::uint8_t *p = base + f.at(index);
    std::size_t n = text.size() < f.size ? text.size() : f.size - 1u;
    std::memset(p, 0, f.size);
    if (n > 0)
        std::memcpy(p, text.data(), n);
}

std::span<std::uint8_t> bytes(std::uint8_t *base, Field f, unsigned index)
{
    return {base + f.at(index), f.size};
}

std::span<const std::uint8_t> bytes(const std::uint8_t *base, Field f, unsigned index)
{
    return {base + f.at(index), f.size};
}

bool get_bit(const std::uint8_t *image, Bit b)
{
    return (image[b.byte.offset] >> b.bit) & 1u;
}

void set_bit(std::uint8_t *image, Bit b, bool on)
{
    std::uint8_t mask = static_cast<std::uint8_t>(1u << b.bit);
    if (on)
        image[b.byte.offset] |= mask;
    else
        image[b.byte.offset] &= static_cast<std::uint8_t>(~mask);
}

} // namespace settings
