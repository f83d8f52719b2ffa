// Tests of the CCSDS (255,223) dual-basis Reed-Solomon code, including a
// differential comparison against libfec's encode_rs_ccsds / decode_rs_ccsds.
#include "store/rs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <fec.h>
}

namespace {

using Codeword = std::array<unsigned char, RS_N>;

std::string hex(const unsigned char *p, std::size_t n) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; i++) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        if (i) s += ' ';
        s += buf;
    }
    return s;
}

std::string seed_note(std::uint32_t seed) { return "seed " + std::to_string(seed); }

Codeword random_codeword(std::mt19937 &rng) {
    Codeword cw{};
    for (std::size_t i = 0; i < RS_K; i++) cw[i] = static_cast<unsigned char>(rng() & 0xFF);
    EXPECT_EQ(rs_encode(cw.data(), cw.data() + RS_K), 0);
    return cw;
}

// Flips nerr distinct bytes of cw to a different value.
void corrupt(Codeword &cw, int nerr, std::mt19937 &rng) {
    std::vector<int> pos(RS_N);
    for (std::size_t i = 0; i < RS_N; i++) pos[i] = static_cast<int>(i);
    std::shuffle(pos.begin(), pos.end(), rng);
    for (int e = 0; e < nerr; e++) {
        unsigned char x = static_cast<unsigned char>(1 + rng() % 255);
        cw[pos[e]] ^= x;
    }
}

bool is_codeword(const Codeword &cw) {
    Codeword re = cw;
    rs_encode(re.data(), re.data() + RS_K);
    return re == cw;
}

TEST(RsEncode, ZeroDataGivesZeroCheckBytes) {
    Codeword cw{};
    std::fill(cw.begin() + RS_K, cw.end(), 0xAA);
    EXPECT_EQ(rs_encode(cw.data(), cw.data() + RS_K), 0);
    for (std::size_t i = 0; i < RS_N; i++) EXPECT_EQ(cw[i], 0) << "byte " << i;
}

TEST(RsEncode, AllOnesDataGivesAllOnesCheckBytes) {
    Codeword cw;
    cw.fill(0xFF);
    std::fill(cw.begin() + RS_K, cw.end(), 0);
    rs_encode(cw.data(), cw.data() + RS_K);
    for (std::size_t i = 0; i < RS_N; i++) EXPECT_EQ(cw[i], 0xFF) << "byte " << i;
    EXPECT_EQ(rs_decode(cw.data()), 0);  // an erased device is valid
}

TEST(RsEncode, CountingDataVector) {
    static const unsigned char expected[RS_PARITY] = {
        0x4F, 0xFB, 0x92, 0xDD, 0x55, 0x7E, 0xC6, 0x7F, 0x27, 0xFB, 0x89, 0x82, 0xCF, 0x58, 0xF8, 0xFD,
        0x02, 0x8A, 0xD1, 0x17, 0xFC, 0xEF, 0x6B, 0x27, 0x93, 0xD0, 0x41, 0x88, 0x26, 0x57, 0x86, 0x51};
    Codeword cw{};
    for (std::size_t i = 0; i < RS_K; i++) cw[i] = static_cast<unsigned char>(i);
    rs_encode(cw.data(), cw.data() + RS_K);
    EXPECT_EQ(hex(cw.data() + RS_K, RS_PARITY), hex(expected, RS_PARITY));
    for (std::size_t i = 0; i < RS_K; i++) ASSERT_EQ(cw[i], i) << "data byte changed";
    EXPECT_EQ(rs_decode(cw.data()), 0);
}

TEST(RsEncode, SeparateCheckBufferAndDataUntouched) {
    std::mt19937 rng(7);
    SCOPED_TRACE(seed_note(7));
    unsigned char data[RS_K];
    for (auto &b : data) b = static_cast<unsigned char>(rng());
    unsigned char copy[RS_K];
    std::copy(std::begin(data), std::end(data), copy);
    unsigned char check[RS_PARITY];
    rs_encode(data, check);
    EXPECT_TRUE(std::equal(std::begin(data), std::end(data), copy));
    Codeword cw;
    std::copy(std::begin(data), std::end(data), cw.begin());
    std::copy(std::begin(check), std::end(check), cw.begin() + RS_K);
    EXPECT_EQ(rs_decode(cw.data()), 0);
}

TEST(RsInit, FlagAndDualBasisTables) {
    EXPECT_EQ(rs_to_dual(1), 0x7B);
    EXPECT_EQ(rs_to_dual(2), 0xAF);
    EXPECT_EQ(rs_to_dual(8), 0xFA);
    EXPECT_EQ(rs_to_dual(0), 0x00);
    EXPECT_EQ(rs_initialised.load(), 1);
    rs_init();  // idempotent
    EXPECT_EQ(rs_initialised.load(), 1);
    bool seen[256] = {};
    for (unsigned s = 0; s < 256; s++) {
        unsigned char d = rs_to_dual(static_cast<unsigned char>(s));
        EXPECT_FALSE(seen[d]) << "not a permutation at " << s;
        seen[d] = true;
        EXPECT_EQ(rs_from_dual(d), s);
        // The map is linear over GF(2).
        for (unsigned u = 0; u < 256; u += 37)
            EXPECT_EQ(rs_to_dual(static_cast<unsigned char>(s ^ u)), d ^ rs_to_dual(static_cast<unsigned char>(u)));
    }
}

TEST(RsDecode, ValidCodewordUnchanged) {
    const std::uint32_t seed = 11;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 50; trial++) {
        Codeword cw = random_codeword(rng);
        Codeword orig = cw;
        ASSERT_EQ(rs_decode(cw.data()), 0);
        ASSERT_EQ(cw, orig);
    }
}

TEST(RsDecode, SixteenErrorsAtTheEnds) {
    const std::uint32_t seed = 13;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    Codeword cw = random_codeword(rng);
    const Codeword orig = cw;
    // First 16 bytes (data), last 16 (check), and a mix straddling the boundary.
    const std::vector<std::vector<int>> patterns = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
        {239, 240, 241, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 254},
        {0, 254, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227, 228},
    };
    for (const auto &p : patterns) {
        Codeword bad = orig;
        for (int q : p) bad[q] = static_cast<unsigned char>(~bad[q]);
        ASSERT_EQ(rs_decode(bad.data()), 16);
        ASSERT_EQ(bad, orig);
    }
    Codeword bad = orig;
    bad[254] ^= 0x01;
    ASSERT_EQ(rs_decode(bad.data()), 1);
    ASSERT_EQ(bad, orig);
}

TEST(RsDiff, EncodeMatchesLibfec) {
    const std::uint32_t seed = 20240601;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 1000; trial++) {
        unsigned char data[RS_N];
        for (std::size_t i = 0; i < RS_K; i++) data[i] = static_cast<unsigned char>(rng());
        unsigned char ours[RS_PARITY];
        unsigned char theirs[RS_PARITY];
        rs_encode(data, ours);
        encode_rs_ccsds(data, theirs, 0);
        ASSERT_EQ(hex(ours, RS_PARITY), hex(theirs, RS_PARITY)) << "trial " << trial;
    }
}

TEST(RsDiff, CorrectableErrorsMatchLibfec) {
    const std::uint32_t seed = 424242;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    for (int nerr = 1; nerr <= 16; nerr++) {
        for (int trial = 0; trial < 150; trial++) {
            const Codeword orig = random_codeword(rng);
            Codeword bad = orig;
            corrupt(bad, nerr, rng);
            Codeword ours = bad;
            Codeword theirs = bad;
            int n_ours = rs_decode(ours.data());
            int n_theirs = decode_rs_ccsds(theirs.data(), nullptr, 0, 0);
            ASSERT_EQ(n_ours, nerr) << "nerr " << nerr << " trial " << trial;
            ASSERT_EQ(n_ours, n_theirs) << "nerr " << nerr << " trial " << trial;
            ASSERT_EQ(ours, theirs) << "nerr " << nerr << " trial " << trial;
            ASSERT_EQ(ours, orig) << "nerr " << nerr << " trial " << trial;
        }
    }
}

// Beyond 16 wrong bytes: never crash, and either -1 with the word untouched or
// a count with a valid codeword within 16 bytes of what was received.
void check_uncorrectable(const Codeword &bad, int &failures, int &miscorrections) {
    Codeword ours = bad;
    int n = rs_decode(ours.data());
    if (n < 0) {
        ASSERT_EQ(n, -1);
        ASSERT_EQ(ours, bad) << "codeword changed on -1";
        failures++;
        return;
    }
    ASSERT_LE(n, 16);
    ASSERT_TRUE(is_codeword(ours));
    int diff = 0;
    for (std::size_t i = 0; i < RS_N; i++) diff += ours[i] != bad[i];
    ASSERT_EQ(diff, n);
    miscorrections++;
    // libfec must find the same (unique) codeword within distance 16.
    Codeword theirs = bad;
    EXPECT_EQ(decode_rs_ccsds(theirs.data(), nullptr, 0, 0), n);
    EXPECT_EQ(theirs, ours);
}

TEST(RsDiff, TooManyErrorsFailSafely) {
    const std::uint32_t seed = 9001;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    int failures = 0;
    int miscorrections = 0;
    for (int nerr = 17; nerr <= 40; nerr++) {
        for (int trial = 0; trial < 60; trial++) {
            Codeword bad = random_codeword(rng);
            corrupt(bad, nerr, rng);
            SCOPED_TRACE("nerr " + std::to_string(nerr) + " trial " + std::to_string(trial));
            check_uncorrectable(bad, failures, miscorrections);
            if (HasFatalFailure()) return;
        }
    }
    // Random words of 255 bytes, mostly far from any codeword.
    for (int trial = 0; trial < 500; trial++) {
        Codeword bad;
        for (auto &b : bad) b = static_cast<unsigned char>(rng());
        SCOPED_TRACE("random word trial " + std::to_string(trial));
        check_uncorrectable(bad, failures, miscorrections);
        if (HasFatalFailure()) return;
    }
    std::printf("[          ] uncorrectable: %d rejected, %d decoded to another codeword\n", failures,
                miscorrections);
    EXPECT_GT(failures, 0);
}

// A word 17 bytes from one codeword but 16 from another decodes to the other
// one: the all-zero codeword and the weight-33 codeword g(x) (data all zero
// but the last data byte), with 17 of g's 33 bytes present.
TEST(RsDiff, SeventeenErrorsNearAnotherCodeword) {
    Codeword g{};
    g[RS_K - 1] = 0x5A;
    rs_encode(g.data(), g.data() + RS_K);
    std::vector<int> support;
    for (std::size_t i = 0; i < RS_N; i++)
        if (g[i]) support.push_back(static_cast<int>(i));
    ASSERT_EQ(support.size(), 33u);  // minimum distance of the code
    const std::uint32_t seed = 31337;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 50; trial++) {
        std::shuffle(support.begin(), support.end(), rng);
        Codeword bad{};
        for (int e = 0; e < 17; e++) bad[support[e]] = g[support[e]];
        int failures = 0;
        int miscorrections = 0;
        check_uncorrectable(bad, failures, miscorrections);
        ASSERT_EQ(miscorrections, 1);
        Codeword ours = bad;
        ASSERT_EQ(rs_decode(ours.data()), 16);
        ASSERT_EQ(ours, g);
    }
}

TEST(RsDecode, EncodeThenDecodeKeepsData) {
    const std::uint32_t seed = 5;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 100; trial++) {
        Codeword cw{};
        for (std::size_t i = 0; i < RS_K; i++) cw[i] = static_cast<unsigned char>(rng());
        Codeword data = cw;
        rs_encode(cw.data(), cw.data() + RS_K);
        ASSERT_TRUE(std::equal(cw.begin(), cw.begin() + RS_K, data.begin()));
        ASSERT_EQ(rs_decode(cw.data()), 0);
        ASSERT_TRUE(std::equal(cw.begin(), cw.begin() + RS_K, data.begin()));
    }
}

}  // namespace
