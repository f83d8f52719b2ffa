// The CCSDS (255,223) dual-basis Reed-Solomon code: known vectors, and a
// differential comparison against libfec's encode_rs_ccsds / decode_rs_ccsds.
#include "store/rs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

extern "C" {
#include <fec.h>
}

namespace {

using Codeword = std::array<unsigned char, kRsN>;

Codeword encoded(Codeword cw)
{
    EXPECT_EQ(rs_encode(cw.data(), cw.data() + kRsK), 0);
    return cw;
}

Codeword random_codeword(std::mt19937 &rng)
{
    Codeword cw{};
    std::generate(cw.begin(), cw.begin() + kRsK, [&] { return static_cast<unsigned char>(rng()); });
    return encoded(cw);
}

// Changes nerr distinct bytes of cw.
void corrupt(Codeword &cw, int nerr, std::mt19937 &rng)
{
    std::vector<int> pos(kRsN);
    for (std::size_t i = 0; i < kRsN; i++)
        pos[i] = static_cast<int>(i);
    std::shuffle(pos.begin(), pos.end(), rng);
    for (int e = 0; e < nerr; e++)
        cw[static_cast<std::size_t>(pos[static_cast<std::size_t>(e)])] ^= static_cast<unsigned char>(1 + rng() % 255);
}

TEST(RsEncode, KnownVectors)
{
    Codeword zero{}, ones{}, counting{};
    std::fill(zero.begin() + kRsK, zero.end(), 0xAA);  // old check bytes are overwritten
    std::fill(ones.begin(), ones.begin() + kRsK, 0xFF);
    for (std::size_t i = 0; i < kRsK; i++)
        counting[i] = static_cast<unsigned char>(i);
    Codeword want_zero{}, want_ones, want_counting = counting;
    want_ones.fill(0xFF);  // an erased device is a valid codeword
    const unsigned char check[kRsParity] = {
        0x4F, 0xFB, 0x92, 0xDD, 0x55, 0x7E, 0xC6, 0x7F, 0x27, 0xFB, 0x89, 0x82, 0xCF, 0x58, 0xF8, 0xFD,
        0x02, 0x8A, 0xD1, 0x17, 0xFC, 0xEF, 0x6B, 0x27, 0x93, 0xD0, 0x41, 0x88, 0x26, 0x57, 0x86, 0x51};
    std::copy(std::begin(check), std::end(check), want_counting.begin() + kRsK);
    for (auto [given, want] : {std::pair{zero, want_zero}, {ones, want_ones}, {counting, want_counting}}) {
        Codeword cw = encoded(given);
        EXPECT_EQ(cw, want);
        EXPECT_EQ(rs_decode(cw.data()), 0);
    }
}

TEST(RsDecode, SixteenErrorsAtTheEnds)
{
    std::mt19937 rng(13);
    const Codeword orig = random_codeword(rng);
    // The first 16 bytes (data), the last 16 (check), and both ends with 14 across the boundary.
    for (std::size_t first : {0, 239, 215}) {
        Codeword bad = orig;
        for (std::size_t q = first; q < first + 16; q++)
            bad.at(q == 215 ? 0 : q == 216 ? kRsN - 1 : q) ^= 0xFF;
        ASSERT_EQ(rs_decode(bad.data()), 16) << first;
        ASSERT_EQ(bad, orig) << first;
    }
}

TEST(RsDiff, EncodeMatchesLibfec)
{
    const std::uint32_t seed = 20240601;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 1000; trial++) {
        Codeword ours = random_codeword(rng);
        unsigned char theirs[kRsParity];
        encode_rs_ccsds(ours.data(), theirs, 0);
        ASSERT_TRUE(std::equal(std::begin(theirs), std::end(theirs), ours.begin() + kRsK)) << "trial " << trial;
    }
}

TEST(RsDiff, UpToSixteenErrorsAreCorrectedAsLibfecDoes)
{
    const std::uint32_t seed = 424242;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int nerr = 0; nerr <= 16; nerr++) {
        for (int trial = 0; trial < 150; trial++) {
            SCOPED_TRACE("nerr " + std::to_string(nerr) + " trial " + std::to_string(trial));
            const Codeword orig = random_codeword(rng);
            Codeword ours = orig;
            corrupt(ours, nerr, rng);
            Codeword theirs = ours;
            ASSERT_EQ(rs_decode(ours.data()), nerr);
            ASSERT_EQ(decode_rs_ccsds(theirs.data(), nullptr, 0, 0), nerr);
            ASSERT_EQ(ours, orig);
            ASSERT_EQ(theirs, orig);
        }
    }
}

// Beyond 16 wrong bytes: never crash, and either -1 with the word untouched or
// the codeword within 16 bytes of what was received, the one libfec finds.
// Returns whether it was decoded.
bool decodes_safely(const Codeword &bad)
{
    Codeword ours = bad;
    int n = rs_decode(ours.data());
    if (n < 0) {
        EXPECT_EQ(n, -1);
        EXPECT_EQ(ours, bad) << "codeword changed on -1";
        return false;
    }
    EXPECT_LE(n, 16);
    EXPECT_EQ(encoded(ours), ours);
    int diff = 0;
    for (std::size_t i = 0; i < kRsN; i++)
        diff += ours[i] != bad[i];
    EXPECT_EQ(diff, n);
    Codeword theirs = bad;
    EXPECT_EQ(decode_rs_ccsds(theirs.data(), nullptr, 0, 0), n);
    EXPECT_EQ(theirs, ours);
    return true;
}

TEST(RsDiff, TooManyErrorsFailSafely)
{
    const std::uint32_t seed = 9001;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    int rejected = 0;
    for (int nerr = 17; nerr <= 40 && !HasFailure(); nerr++) {
        for (int trial = 0; trial < 60; trial++) {
            Codeword bad = random_codeword(rng);
            corrupt(bad, nerr, rng);
            rejected += !decodes_safely(bad);
        }
    }
    // Random words, mostly far from any codeword.
    for (int trial = 0; trial < 500 && !HasFailure(); trial++) {
        Codeword bad;
        std::generate(bad.begin(), bad.end(), [&] { return static_cast<unsigned char>(rng()); });
        rejected += !decodes_safely(bad);
    }
    EXPECT_GT(rejected, 0);

    // 17 bytes of the weight-33 codeword g(x) (data all zero but the last
    // byte): 17 from zero but 16 from g, so it decodes to g.
    Codeword g{};
    g[kRsK - 1] = 0x5A;
    g = encoded(g);
    std::vector<std::size_t> support;
    for (std::size_t i = 0; i < kRsN; i++)
        if (g[i])
            support.push_back(i);
    ASSERT_EQ(support.size(), 33u);  // the code's minimum distance
    for (int trial = 0; trial < 50; trial++) {
        std::shuffle(support.begin(), support.end(), rng);
        Codeword bad{};
        for (int e = 0; e < 17; e++)
            bad[support[static_cast<std::size_t>(e)]] = g[support[static_cast<std::size_t>(e)]];
        ASSERT_TRUE(decodes_safely(bad));
        ASSERT_EQ(rs_decode(bad.data()), 16);
        ASSERT_EQ(bad, g);
    }
}

} // namespace
