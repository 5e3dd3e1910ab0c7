// The method and its constants are fdlibm's arc tangent (s_atan.c): the reduction of |x| at 7/16,
// 11/16, 19/16 and 39/16, atan(1/2), atan(1), atan(3/2) and atan(inf) as high and low parts, and
// the coefficients of the odd polynomial. The code, the four-lane form and the high-word tests
// written as comparisons are this project's own. fdlibm's notice, which its terms ask to keep:
//
//   Copyright (C) 1993 by Sun Microsystems, Inc. All rights reserved.
//   Developed at SunPro, a Sun Microsystems, Inc. business.
//   Permission to use, copy, modify, and distribute this software is freely granted,
//   provided that this notice is preserved.
//
// See THIRD_PARTY.md.
#include "modelbuilder/Atan.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace CorvanaModelBuilder {
namespace {

// atan(1/2), atan(1), atan(3/2), atan(inf) as high and low parts of a double-double.
constexpr double kAtanHigh[] = {4.63647609000806093515e-01, 7.85398163397448278999e-01,
                                9.82793723247329054082e-01, 1.57079632679489655800e+00};
constexpr double kAtanLow[] = {2.26987774529616870924e-17, 3.06161699786838301793e-17,
                               1.39033110312309984516e-17, 6.12323399573676603587e-17};
// atan(x) = x - x (z T(z)) on |x| <= 7/16 with z = x^2: the minimax odd polynomial's terms.
constexpr double kT[] = {
    3.33333333333329318027e-01,  -1.99999999998764832476e-01, 1.42857142725034663711e-01,
    -1.11111104054623557880e-01, 9.09088713343650656196e-02,  -7.69187620504482999495e-02,
    6.66107313738753120669e-02,  -5.83357013379057348645e-02, 4.97687799461593236017e-02,
    -3.65315727442169155270e-02, 1.62858201153657823623e-02};

// Four lanes, for the block form; operations on them are the scalar ones, lane by lane.
using Lanes = double __attribute__((vector_size(32)));
using LaneBits = std::int64_t __attribute__((vector_size(32)));

std::uint32_t HighWord(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return static_cast<std::uint32_t>(bits >> 32);
}

// The scalar Atan below on four lanes, every branch taken and the lane's own result selected, so
// each lane gives the scalar bits. Its tests of the high word are comparisons of |x| with the
// doubles whose high words they name (doubles of one sign order as their bits), so the vector
// code needs no 64-bit integer compare. The four reductions and the identity are one form,
// (a t - b) / (c + d t), whose operations are those of the scalar formulas (1 t and 0 + t are
// exact, 0 t - 1 is -1 for the positive finite t that reaches it). Through memory, not by value:
// a 32-byte vector argument would change the ABI without AVX.
inline void AtanOfLanes(const double* in, double* out) {
    Lanes x;
    std::memcpy(&x, in, sizeof x);
    const LaneBits bits = reinterpret_cast<LaneBits>(x);
    const LaneBits sign = bits & std::numeric_limits<std::int64_t>::min();
    const Lanes ax = reinterpret_cast<Lanes>(bits ^ sign);
    const LaneBits big = !(ax < 0x1p66);  // NaN too
    const LaneBits small = ax < 0.4375;
    const LaneBits tiny = ax < 0x1p-27;
    const LaneBits id0 = ax < 0.6875;
    const LaneBits id1 = ax < 1.1875;
    const LaneBits id2 = ax < 2.4375;
    const Lanes zero = {0.0, 0.0, 0.0, 0.0};
    const Lanes one = zero + 1.0;
    const Lanes two = zero + 2.0;
    const Lanes threeHalves = zero + 1.5;
    const Lanes a = small ? one : (id0 ? two : (id1 ? one : (id2 ? one : zero)));
    const Lanes b = small ? zero : (id0 ? one : (id1 ? one : (id2 ? threeHalves : one)));
    const Lanes t = small ? x : ax;
    const Lanes r = (a * t - b) / (a + b * t);  // c is a and d is b in every form
    const Lanes z = r * r;
    const Lanes w = z * z;
    const Lanes s1 =
        z * (kT[0] + w * (kT[2] + w * (kT[4] + w * (kT[6] + w * (kT[8] + w * kT[10])))));
    const Lanes s2 = w * (kT[1] + w * (kT[3] + w * (kT[5] + w * (kT[7] + w * kT[9]))));
    const Lanes high =
        id0 ? zero + kAtanHigh[0]
            : (id1 ? zero + kAtanHigh[1] : (id2 ? zero + kAtanHigh[2] : zero + kAtanHigh[3]));
    const Lanes low =
        id0 ? zero + kAtanLow[0]
            : (id1 ? zero + kAtanLow[1] : (id2 ? zero + kAtanLow[2] : zero + kAtanLow[3]));
    const Lanes reduced = high - ((r * (s1 + s2) - low) - r);
    const Lanes direct = r - r * (s1 + s2);
    const Lanes limit = zero + (kAtanHigh[3] + kAtanLow[3]);
    // The sign flips of the scalar code, as flips of the sign bit.
    const Lanes signedReduced = reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(reduced) ^ sign);
    const Lanes signedLimit = reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(limit) ^ sign);
    const Lanes atBig = x != x ? x + x : signedLimit;
    const Lanes result = small ? (tiny ? x : direct) : signedReduced;
    const Lanes y = big ? atBig : result;
    std::memcpy(out, &y, sizeof y);
}

}  // namespace

void AtanBlock(const double* x, double* y, std::size_t n) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) AtanOfLanes(x + i, y + i);
    for (; i < n; ++i) y[i] = Atan(x[i]);
}

double Atan(double x) {
    const std::uint32_t high = HighWord(x);
    const std::uint32_t magnitude = high & 0x7fffffffu;
    const bool negative = (high >> 31) != 0;
    if (magnitude >= 0x44100000u) {  // |x| >= 2^66, inf or NaN
        if (x != x) return x + x;
        return negative ? -kAtanHigh[3] - kAtanLow[3] : kAtanHigh[3] + kAtanLow[3];
    }
    int id = -1;
    if (magnitude < 0x3fdc0000u) {              // |x| < 7/16
        if (magnitude < 0x3e400000u) return x;  // |x| < 2^-27: atan(x) rounds to x
    } else {
        x = negative ? -x : x;
        if (magnitude < 0x3ff30000u) {      // |x| < 19/16
            if (magnitude < 0x3fe60000u) {  // 7/16 <= |x| < 11/16
                id = 0;
                x = (2.0 * x - 1.0) / (2.0 + x);
            } else {  // 11/16 <= |x| < 19/16
                id = 1;
                x = (x - 1.0) / (x + 1.0);
            }
        } else if (magnitude < 0x40038000u) {  // 19/16 <= |x| < 39/16
            id = 2;
            x = (x - 1.5) / (1.0 + 1.5 * x);
        } else {  // 39/16 <= |x| < 2^66
            id = 3;
            x = -1.0 / x;
        }
    }
    const double z = x * x;
    const double w = z * z;
    // The odd and even halves of the polynomial, summed separately to keep their rounding small.
    const double s1 =
        z * (kT[0] + w * (kT[2] + w * (kT[4] + w * (kT[6] + w * (kT[8] + w * kT[10])))));
    const double s2 = w * (kT[1] + w * (kT[3] + w * (kT[5] + w * (kT[7] + w * kT[9]))));
    if (id < 0) return x - x * (s1 + s2);
    const double result = kAtanHigh[id] - ((x * (s1 + s2) - kAtanLow[id]) - x);
    return negative ? -result : result;
}

}  // namespace CorvanaModelBuilder
