// Forward DCT with folded quantisation: the Arai-Agui-Nakajima scaled transform in 16-bit fixed
// point, and the quality scaling of the tables it divides by.
//
// Arithmetic (the vector variants reproduce it exactly, lane for lane):
// - every addition and subtraction saturates to signed 16 bits;
// - M(a, k) is the upper half of the signed 32-bit product a * k, i.e. floor(a * k / 2^16), so a
//   Q15 constant k multiplies by k / 2^15 and halves; the constants below are stored halved or
//   their operand is pre-shifted to make up for it;
// - left shifts are plain 16-bit shifts (they would wrap; the ranges keep them from doing so).
// Pass 1 runs the eight-point transform down each column (vertical frequency u); its result is
// transposed and pass 2 runs along the other direction (horizontal frequency v). Nothing is
// descaled between the passes: the AAN output scales and the factor 8 of the unnormalised
// transform are all in ScaleTable, and each output y of pass 2 is quantised at once as
//     q' = (M(y << s(u,v), R(u,v)) + 1) >> 1,   R = (ScaleTable(u,v) + q / 2) / q,
// which is y * ScaleTable / 2^(15 + s) / q rounded half up: the coefficient divided by its
// quantisation value q. The result lies at index v * 8 + u.
//
// Precision: with samples in -128..127 no sum saturates (proved below, so the scalar code sums
// without saturating); each M truncates toward minus infinity, which biases the result slightly
// downward. Against the exact DCT divided by q, the result is off by at most one step at the
// rounding edge; tests/jpeg measures the budget on random blocks.
#include "jpeg/fdct.h"

#include <cstring>

#include "jpeg/encoder.h"

namespace {

constexpr int16_t kC1 = 23170;  // 0.707106781 in Q15
constexpr int16_t kC2 = 25080;  // 0.765366865 (2 x 0.382683433) in Q15
constexpr int16_t kC3 = 21407;  // 0.653281482 (1.306562965 / 2) in Q15
constexpr int16_t kC4 = 17734;  // 0.541196100 in Q15

// The transform's arithmetic comes in three kinds, one per use of the same transform8:
// - Saturating: the definition above, on any 16-bit input (the vector variants' paddsw/psubsw);
// - Lanes: eight columns at once in plain 16-bit sums, for level-shifted samples (-128..127),
//   where no sum can leave the 16-bit range, so saturation never acts and both give the same
//   bits (proved below);
// - Range: interval arithmetic, the proof itself: it runs the transform on the intervals of its
//   inputs and records whether any intermediate can leave -32768..32767.
struct Saturating {
    int16_t v;
    static constexpr int16_t clamp(int32_t x) {
        return static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
    }
    friend constexpr Saturating operator+(Saturating a, Saturating b) {
        return {clamp(int32_t{a.v} + b.v)};
    }
    friend constexpr Saturating operator-(Saturating a, Saturating b) {
        return {clamp(int32_t{a.v} - b.v)};
    }
    friend constexpr Saturating mulHigh(Saturating a, int16_t k) {
        return {static_cast<int16_t>((int32_t{a.v} * k) >> 16)};
    }
    // A plain 16-bit shift: it would wrap, but the ranges keep it from doing so.
    friend constexpr Saturating shiftLeft(Saturating a, int s) {
        return {static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a.v) << s))};
    }
};

// Eight 16-bit lanes, one per column (pass 1) or per vertical frequency (pass 2), summed without
// saturating. Plain loops of eight: a compiler that vectorises turns
// each into one instruction, and any other runs them as they stand.
struct Lanes {
    int16_t v[8];
    template <typename Op>
    static constexpr Lanes each(Op op) {
        Lanes r{};
        for (int i = 0; i < 8; ++i) r.v[i] = static_cast<int16_t>(op(i));
        return r;
    }
    friend constexpr Lanes operator+(const Lanes& a, const Lanes& b) {
        return each([&](int i) { return a.v[i] + b.v[i]; });
    }
    friend constexpr Lanes operator-(const Lanes& a, const Lanes& b) {
        return each([&](int i) { return a.v[i] - b.v[i]; });
    }
    friend constexpr Lanes mulHigh(const Lanes& a, int16_t k) {
        return each([&](int i) { return (int32_t{a.v[i]} * k) >> 16; });
    }
    friend constexpr Lanes shiftLeft(const Lanes& a, int s) {
        return each([&](int i) { return a.v[i] * (1 << s); });
    }
};

struct Range {
    int32_t lo, hi;
    bool fits = true;  // every value on the way here lay within 16 bits
    static constexpr Range make(int32_t lo, int32_t hi, bool fits) {
        return {lo, hi, fits && lo >= -32768 && hi <= 32767};
    }
    friend constexpr Range operator+(Range a, Range b) {
        return make(a.lo + b.lo, a.hi + b.hi, a.fits && b.fits);
    }
    friend constexpr Range operator-(Range a, Range b) {
        return make(a.lo - b.hi, a.hi - b.lo, a.fits && b.fits);
    }
    // Every constant is positive, so the product's floor is monotonic in a.
    friend constexpr Range mulHigh(Range a, int16_t k) {
        return make((a.lo * k) >> 16, (a.hi * k) >> 16, a.fits);
    }
    friend constexpr Range shiftLeft(Range a, int s) {
        return make(a.lo * (1 << s), a.hi * (1 << s), a.fits);
    }
};

// The eight-point transform of x[0], x[step], ... x[7 * step] into y[0..7] (y may be x when
// step is 1).
template <typename T>
constexpr void transform8(const T* x, int step, T* y) {
    const T x0 = x[0], x1 = x[step], x2 = x[2 * step], x3 = x[3 * step];
    const T x4 = x[4 * step], x5 = x[5 * step], x6 = x[6 * step], x7 = x[7 * step];

    const T t0 = x0 + x7, t7 = x0 - x7;
    const T t1 = x1 + x6, t6 = x1 - x6;
    const T t2 = x2 + x5, t5 = x2 - x5;
    const T t3 = x3 + x4, t4 = x3 - x4;

    // Even part.
    const T t10 = t0 + t3, t13 = t0 - t3;
    const T t11 = t1 + t2, t12 = t1 - t2;
    const T z1 = mulHigh(shiftLeft(t12 + t13, 1), kC1);

    // Odd part.
    const T p10 = t4 + t5, p11 = t5 + t6, p12 = t6 + t7;
    const T z3 = mulHigh(shiftLeft(p11, 1), kC1);
    const T z5 = mulHigh(p10 - p12, kC2);
    const T z4 = mulHigh(shiftLeft(p12, 2), kC3) + z5;
    const T z2 = mulHigh(shiftLeft(p10, 1), kC4) + z5;
    const T z11 = t7 + z3, z13 = t7 - z3;

    y[0] = t10 + t11;
    y[1] = z11 + z4;
    y[2] = t13 + z1;
    y[3] = z13 - z2;
    y[4] = t10 - t11;
    y[5] = z13 + z2;
    y[6] = t13 - z1;
    y[7] = z11 - z4;
}

// The proof that Lanes gives the Saturating bits on samples: pass 1 runs on eight inputs in
// kSampleMin..kSampleMax and gives interval r[u] for frequency u (the same for every column);
// pass 2 for frequency u runs on eight inputs in r[u]. Interval arithmetic forgets that the
// inputs are shared, so its bounds are wider than the truth; it still finds that nothing leaves
// 16 bits (pass 1 stays within +-2,040, pass 2 within +-26,760), so no saturating sum ever clamps
// on samples.
// The quantisation after pass 2 is the same code in both kinds.
constexpr int32_t kSampleMin = -128, kSampleMax = 127;
constexpr bool samplesNeverSaturate() {
    Range in[8], pass1[8];
    for (Range& r : in) r = {kSampleMin, kSampleMax};
    transform8(in, 1, pass1);
    for (int u = 0; u < 8; ++u) {
        if (!pass1[u].fits) return false;
        Range row[8], out[8];
        for (Range& r : row) r = pass1[u];
        transform8(row, 1, out);
        for (const Range& r : out)
            if (!r.fits) return false;
    }
    return true;
}
static_assert(samplesNeverSaturate());

// Both passes and the quantisation over a block, saturating: the definition.
void forwardDctQuantizeIn(int16_t* block, const uint16_t* reciprocals) {
    // Pass 1 down the columns, written transposed: row c of `t` holds column c's frequencies u.
    Saturating column[8], x[8], t[64];
    for (int c = 0; c < 8; ++c) {
        for (int k = 0; k < 8; ++k) x[k] = {block[k * 8 + c]};
        transform8(x, 1, column);
        for (int u = 0; u < 8; ++u) t[c * 8 + u] = column[u];
    }
    // Pass 2 along the other direction: for each u, x_k = t[k * 8 + u], giving frequency v.
    for (int u = 0; u < 8; ++u) {
        Saturating y[8];
        transform8(t + u, 8, y);
        for (int v = 0; v < 8; ++v) {
            // |m| < 2^14 (a reciprocal is below 2^15), so adding 1 never saturates.
            const int16_t r = static_cast<int16_t>(reciprocals[v * 8 + u]);
            const int16_t m = mulHigh(shiftLeft(y[v], preShift(u, v)), r).v;
            block[v * 8 + u] = static_cast<int16_t>((m + 1) >> 1);
        }
    }
}

}  // namespace

void setQuality(JpegEncoder& encoder, uint32_t quality) {
    uint32_t scale;
    if (quality == 0) {
        scale = 5000;
    } else if (quality > 100) {
        scale = 0;
    } else if (quality < 50) {
        scale = 5000 / quality;
    } else {
        scale = 200 - 2 * quality;
    }
    for (int i = 0; i < 64; ++i) {
        const uint32_t luma = (kLumaQuantBase[i] * scale + 50) / 100;
        const uint32_t chroma = (kChromaQuantBase[i] * scale + 50) / 100;
        encoder.lumaQuant[i] = static_cast<uint8_t>(luma == 0 ? 1 : (luma > 255 ? 255 : luma));
        encoder.chromaQuant[i] =
            static_cast<uint8_t>(chroma == 0 ? 1 : (chroma > 255 ? 255 : chroma));
    }
    buildReciprocals(encoder.lumaQuant, encoder.lumaReciprocals);
    buildReciprocals(encoder.chromaQuant, encoder.chromaReciprocals);
}

void buildReciprocals(const uint8_t* quant, uint16_t* reciprocals) {
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            const uint32_t q = quant[u * 8 + v];
            reciprocals[v * 8 + u] = static_cast<uint16_t>((ScaleTable[u * 8 + v] + q / 2) / q);
        }
    }
}

void forwardDctQuantize(int16_t* block, const uint16_t* reciprocals) {
    // Pass 1 on all columns at once: lanes are columns c, input k is row k, output u holds
    // frequency u of every column.
    Lanes rows[8], f[8];
    std::memcpy(rows, block, sizeof rows);
    transform8(rows, 1, f);
    // Transposed, lanes become frequencies u and input c is column c; pass 2 then gives output v
    // with lanes u: index v * 8 + u, the order the quantised block is kept in.
    Lanes t[8];
    for (int u = 0; u < 8; ++u)
        for (int c = 0; c < 8; ++c) t[c].v[u] = f[u].v[c];
    transform8(t, 1, f);
    // Quantisation: the pre-shift as a multiplier (its low 16 bits are the plain 16-bit shift),
    // the reciprocal's high half, then the rounding halving.
    // Rows are copied in and out of locals so that nothing can alias the block.
    for (int v = 0; v < 8; ++v) {
        Lanes shift, r;
        std::memcpy(shift.v, kPreShiftMultipliers.m + v * 8, sizeof shift.v);
        std::memcpy(r.v, reciprocals + v * 8, sizeof r.v);
        const Lanes q = Lanes::each([&](int u) {
            const int16_t shifted = static_cast<int16_t>(f[v].v[u] * shift.v[u]);
            const int16_t m = static_cast<int16_t>((int32_t{shifted} * r.v[u]) >> 16);
            return (m + 1) >> 1;
        });
        std::memcpy(block + v * 8, q.v, sizeof q.v);
    }
}

void forwardDctQuantizeSaturating(int16_t* block, const uint16_t* reciprocals) {
    forwardDctQuantizeIn(block, reciprocals);
}

void forwardDctQuantizePair(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                            const uint16_t* secondReciprocals) {
    forwardDctQuantize(first, firstReciprocals);
    forwardDctQuantize(second, secondReciprocals);
}
