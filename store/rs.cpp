// CCSDS (255,223) Reed-Solomon code with dual-basis symbols.
//
// Field GF(2^8) with polynomial x^8+x^7+x^2+x+1 (0x187); generator roots
// alpha^(11*j) for j = 112..143.  Codeword byte m is the coefficient of
// x^(254-m); bytes 0..222 are data, 223..254 check bytes.
//
// Speed notes.  The dual-basis map is linear over GF(2) (an XOR of table
// rows per set bit), so conv(a ^ b) == conv(a) ^ conv(b).  Polynomial
// division by g(x) only ever XORs multiples of g(x) into the dividend, so it
// can run directly on dual-basis bytes with a table that, for a dual-basis
// feedback byte f, holds dual(conv(f) * g_k) for the 32 lower coefficients of
// g(x).  Encoding is that division (no representation conversion at all), and
// the check of a received word is the same division: the remainder of a
// codeword is zero.  When it is not zero the 32 syndromes are computed from
// the 32-byte remainder (c(x) = q(x)g(x) + r(x), and g vanishes at the roots)
// rather than from all 255 bytes.
//
// The 32-byte shift register is held in four 64-bit words with register byte
// j at bits 8*(j%8) of word j/8.  The layout is defined by shifts only, never
// by memory order, so the code behaves the same on big- and little-endian
// hosts, and it needs no intrinsics.
#include "store/rs.h"

#include <cstdint>

namespace {

constexpr int kN = 255;               // field elements minus one; codeword length
constexpr int kLogZero = kN;                // logarithm marker for the zero element
constexpr unsigned kFieldPoly = 0x187;
constexpr int kFcr = 112;              // first consecutive root (in units of kPrim)
constexpr int kPrim = 11;              // root spacing
constexpr int kIprim = 116;            // inverse of kPrim modulo 255
static_assert(kIprim * kPrim % kN == 1);
constexpr int kRoots = static_cast<int>(kRsParity);
constexpr int kK = static_cast<int>(kRsK);
constexpr int kT = kRoots / 2;        // correctable byte errors
constexpr unsigned char kTal[8] = {0x8D, 0xEF, 0xEC, 0x86, 0xFA, 0x99, 0xAF, 0x7B};

// Computed by the compiler: the board runs cfgpull at every boot, and building
// these at start-up cost more than the rest of the program's own work.
struct Tables {
    unsigned char exp2[2 * kN];          // alpha^(e mod 255) for e = 0..509
    unsigned char index_of[kN + 1];      // logarithm; index_of[0] = kLogZero
    unsigned char to_dual[256];          // conventional -> dual basis
    unsigned char from_dual[256];        // dual basis -> conventional
    unsigned char root_log[kRoots];      // log of the k-th root of g(x)
    // feed[f][w]: for dual-basis feedback byte f, register bytes 8w..8w+7 of
    // dual(conv(f) * g_(31-j)), j = register byte index.
    std::uint64_t feed[256][4];
};

// Subtract-and-fold reduction modulo 255 (for non-negative x).
constexpr int modnn(int x) {
    while (x >= kN) {
        x -= kN;
        x = (x >> 8) + (x & kN);
    }
    return x;
}

// Poly-form multiply, table lookups only.
constexpr unsigned gmul(const Tables &t, unsigned a, unsigned b) {
    if (a == 0 || b == 0) return 0;
    return t.exp2[t.index_of[a] + t.index_of[b]];
}

constexpr Tables make_tables() {
    Tables t{};

    // Field tables.
    unsigned sr = 1;
    for (int i = 0; i < kN; i++) {
        t.exp2[i] = t.exp2[i + kN] = static_cast<unsigned char>(sr);
        t.index_of[sr] = static_cast<unsigned char>(i);
        sr <<= 1;
        if (sr & 0x100) sr ^= kFieldPoly;
    }
    t.index_of[0] = static_cast<unsigned char>(kLogZero);

    // Generator polynomial g(x), poly form, coefficient of x^i at g[i].
    unsigned char g[kRoots + 1] = {1};
    for (int i = 0; i < kRoots; i++) {
        int root = modnn(kPrim * (kFcr + i));
        t.root_log[i] = static_cast<unsigned char>(root);
        unsigned char alpha_root = t.exp2[root];
        g[i + 1] = 1;
        for (int j = i; j > 0; j--)
            g[j] = static_cast<unsigned char>(g[j - 1] ^ gmul(t, g[j], alpha_root));
        g[0] = static_cast<unsigned char>(gmul(t, g[0], alpha_root));
    }

    // Dual-basis tables.
    for (unsigned s = 0; s < 256; s++) {
        unsigned d = 0;
        for (int b = 0; b < 8; b++)
            if (s & (1u << b)) d ^= kTal[7 - b];
        t.to_dual[s] = static_cast<unsigned char>(d);
        t.from_dual[d] = static_cast<unsigned char>(s);
    }

    // Feedback-tap rows for the dual-basis shift register.
    for (unsigned f = 0; f < 256; f++) {
        unsigned fc = t.from_dual[f];
        for (int j = 0; j < kRoots; j++) {
            std::uint64_t v = t.to_dual[gmul(t, fc, g[kRoots - 1 - j])];
            t.feed[f][j >> 3] |= v << (8 * (j & 7));
        }
    }
    return t;
}

constexpr Tables kTables = make_tables();
static_assert(kTables.to_dual[1] == 0x7B && kTables.to_dual[2] == 0xAF && kTables.to_dual[8] == 0xFA);

inline unsigned gmul(unsigned a, unsigned b) { return gmul(kTables, a, b); }

struct Reg {
    std::uint64_t w0, w1, w2, w3;
};

// Runs the division of the 223 bytes at p (dual basis) by g(x); returns the
// 32-byte register, which then holds the check bytes of p.
inline Reg divide(const unsigned char *p) {
    std::uint64_t r0 = 0, r1 = 0, r2 = 0, r3 = 0;
    for (int i = 0; i < kK; i++) {
        const std::uint64_t *t = kTables.feed[(p[i] ^ r0) & 0xFF];
        r0 = ((r0 >> 8) | (r1 << 56)) ^ t[0];
        r1 = ((r1 >> 8) | (r2 << 56)) ^ t[1];
        r2 = ((r2 >> 8) | (r3 << 56)) ^ t[2];
        r3 = (r3 >> 8) ^ t[3];
    }
    return Reg{r0, r1, r2, r3};
}

inline std::uint64_t load8(const unsigned char *p) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; k++) v |= static_cast<std::uint64_t>(p[k]) << (8 * k);
    return v;
}

inline void store8(unsigned char *p, std::uint64_t v) {
    for (int k = 0; k < 8; k++) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

// Remainder of the whole codeword (dual basis), as register words.
inline Reg remainder(const unsigned char *cw) {
    Reg r = divide(cw);
    r.w0 ^= load8(cw + kK);
    r.w1 ^= load8(cw + kK + 8);
    r.w2 ^= load8(cw + kK + 16);
    r.w3 ^= load8(cw + kK + 24);
    return r;
}

inline bool is_zero(const Reg &r) { return (r.w0 | r.w1 | r.w2 | r.w3) == 0; }

// The decoder's stages, as Reed-Solomon decoders have them: syndromes, the
// error locator, its roots, the error values.

// Syndromes S_k = r(root_k), poly form, from the remainder by Horner's rule.
void syndromes(const Reg &rem, unsigned char *s) {
    const Tables &t = kTables;
    unsigned char rbytes[kRoots];
    store8(rbytes, rem.w0);
    store8(rbytes + 8, rem.w1);
    store8(rbytes + 16, rem.w2);
    store8(rbytes + 24, rem.w3);
    unsigned char rc[kRoots];  // rc[j]: conventional coefficient of x^(31-j)
    for (int j = 0; j < kRoots; j++) rc[j] = t.from_dual[rbytes[j]];
    for (int k = 0; k < kRoots; k++) {
        unsigned a = 0;
        for (int j = 0; j < kRoots; j++) {
            unsigned ax = a ? t.exp2[t.index_of[a] + t.root_log[k]] : 0;
            a = ax ^ rc[j];
        }
        s[k] = static_cast<unsigned char>(a);
    }
}

// Berlekamp-Massey: the shortest LFSR C(x) (c[0..kRoots]) generating
// S_0..S_31. Returns its degree, or -1 when more than kT errors are implied.
int locator(const unsigned char *s, unsigned char *c) {
    const Tables &t = kTables;
    unsigned char b[kRoots + 1] = {1};
    c[0] = 1;
    int L = 0;
    int m = 1;
    int deg_b = 0;
    unsigned bd = 1;
    for (int n = 0; n < kRoots; n++) {
        unsigned d = s[n];
        for (int i = 1; i <= L; i++) d ^= gmul(c[i], s[n - i]);
        if (d == 0) {
            m++;
            continue;
        }
        // coef = d / bd
        unsigned coef = t.exp2[t.index_of[d] + kN - t.index_of[bd]];
        unsigned char prev[kRoots + 1];
        bool grow = 2 * L <= n;
        if (grow)
            for (int i = 0; i <= kRoots; i++) prev[i] = c[i];
        // deg(x^m B) never exceeds the new L (<= 32), so nothing is lost here.
        for (int i = 0; i <= deg_b && i + m <= kRoots; i++)
            c[i + m] = static_cast<unsigned char>(c[i + m] ^ gmul(coef, b[i]));
        if (grow) {
            L = n + 1 - L;
            deg_b = 0;
            for (int i = 0; i <= kRoots; i++) {
                b[i] = prev[i];
                if (b[i]) deg_b = i;
            }
            bd = d;
            m = 1;
        } else {
            m++;
        }
    }
    int deg = kRoots;
    while (deg > 0 && c[deg] == 0) deg--;
    return L > kT || deg != L || deg == 0 ? -1 : deg;
}

// Chien search over all 255 non-zero field elements alpha^i, i = 1..255:
// acc[i] = C(alpha^i), one pass over i per non-zero coefficient, its
// exponent (i * j) mod 255 kept by steps of j. Returns the number of roots
// (their i in `found`), or -1 when it is not the degree.
int locator_roots(const unsigned char *c, int deg, int *found) {
    const Tables &t = kTables;
    unsigned char acc[kN + 1];
    for (int i = 0; i <= kN; i++) acc[i] = 1;  // c[0] == 1
    for (int j = 1; j <= deg; j++) {
        if (c[j] == 0) continue;
        const unsigned char *term = t.exp2 + t.index_of[c[j]];
        int e = 0;
        for (int i = 1; i <= kN; i++) {
            e += j;
            if (e >= kN) e -= kN;
            acc[i] ^= term[e];
        }
    }
    int count = 0;
    for (int i = 1; i <= kN; i++) {
        if (acc[i] != 0) continue;
        if (count == deg) return -1;  // more roots than the degree: impossible, but never overrun
        found[count++] = i;
    }
    return count == deg ? count : -1;
}

// Forney: the error values at the roots, Y = X^(1-kFcr) Omega(X^-1) /
// C'(X^-1) with X^-1 = alpha^i, and their byte positions. False when a
// value cannot be computed.
bool error_values(const unsigned char *s, const unsigned char *c, int deg, const int *found, int *pos,
                  unsigned char *val) {
    const Tables &t = kTables;
    // Omega(x) = S(x) C(x) mod x^32; for a decodable word its degree is below
    // deg (the final check catches any other case).
    unsigned char omega[kRoots];
    int deg_omega = 0;
    for (int k = 0; k < deg; k++) {
        unsigned v = 0;
        for (int i = 0; i <= deg && i <= k; i++) v ^= gmul(c[i], s[k - i]);
        omega[k] = static_cast<unsigned char>(v);
        if (v) deg_omega = k;
    }
    for (int e = 0; e < deg; e++) {
        int i = found[e];
        unsigned num1 = 0;
        for (int k = 0; k <= deg_omega; k++)
            if (omega[k]) num1 ^= t.exp2[modnn(t.index_of[omega[k]] + modnn(i * k))];
        unsigned den = 0;
        for (int j = 1; j <= deg; j += 2)
            if (c[j]) den ^= t.exp2[modnn(t.index_of[c[j]] + modnn(i * (j - 1)))];
        if (den == 0 || num1 == 0) return false;
        int lg = t.index_of[num1] + modnn(i * (kFcr - 1)) + kN - t.index_of[den];
        unsigned y = t.exp2[modnn(lg)];
        int p = modnn(kN - modnn(kIprim * i));  // degree of the error position
        pos[e] = (kN - 1) - p;
        val[e] = t.to_dual[y];  // dual basis is linear: XOR in dual form
    }
    return true;
}

// Full decoding once the remainder is known to be non-zero.
int correct(unsigned char *cw, const Reg &rem) {
    unsigned char s[kRoots], c[kRoots + 1] = {};
    syndromes(rem, s);
    int deg = locator(s, c);
    int found[kT], pos[kT];
    unsigned char val[kT];
    if (deg < 0 || locator_roots(c, deg, found) < 0 || !error_values(s, c, deg, found, pos, val)) return -1;
    for (int e = 0; e < deg; e++) cw[pos[e]] ^= val[e];
    // The checks above guarantee a codeword; confirm it cheaply all the same
    // so that a non-codeword can never be returned as corrected.
    if (!is_zero(remainder(cw))) {
        for (int e = 0; e < deg; e++) cw[pos[e]] ^= val[e];
        return -1;
    }
    return deg;
}

}  // namespace

int rs_encode(unsigned char *data, unsigned char *check) {
    Reg r = divide(data);
    store8(check, r.w0);
    store8(check + 8, r.w1);
    store8(check + 16, r.w2);
    store8(check + 24, r.w3);
    return 0;
}

int rs_decode(unsigned char *codeword) {
    Reg rem = remainder(codeword);
    if (is_zero(rem)) return 0;
    return correct(codeword, rem);
}
