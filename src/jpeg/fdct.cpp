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
// Precision: with samples in -128..127 the pass-1 outputs stay within about +-1,500 and no sum
// saturates; each M truncates toward minus infinity, which biases the result slightly downward.
// Against the exact DCT divided by q, the result is off by at most one step at the rounding edge;
// tests/jpeg measures the budget on random blocks.
#include "jpeg/fdct.h"

#include "jpeg/encoder.h"

namespace {

constexpr int16_t kC1 = 23170;  // 0.707106781 in Q15
constexpr int16_t kC2 = 25080;  // 0.765366865 (2 x 0.382683433) in Q15
constexpr int16_t kC3 = 21407;  // 0.653281482 (1.306562965 / 2) in Q15
constexpr int16_t kC4 = 17734;  // 0.541196100 in Q15

constexpr int16_t saturate(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
constexpr int16_t add(int16_t a, int16_t b) {
    return saturate(int32_t{a} + b);
}
constexpr int16_t sub(int16_t a, int16_t b) {
    return saturate(int32_t{a} - b);
}
constexpr int16_t mulHigh(int16_t a, int16_t k) {
    return static_cast<int16_t>((int32_t{a} * k) >> 16);
}
constexpr int16_t shiftLeft(int16_t a, int s) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a) << s));
}

// The eight-point transform of x[0], x[step], ... x[7 * step] into y[0..7] (y may be x when
// step is 1).
void transform8(const int16_t* x, int step, int16_t* y) {
    const int16_t x0 = x[0], x1 = x[step], x2 = x[2 * step], x3 = x[3 * step];
    const int16_t x4 = x[4 * step], x5 = x[5 * step], x6 = x[6 * step], x7 = x[7 * step];

    const int16_t t0 = add(x0, x7), t7 = sub(x0, x7);
    const int16_t t1 = add(x1, x6), t6 = sub(x1, x6);
    const int16_t t2 = add(x2, x5), t5 = sub(x2, x5);
    const int16_t t3 = add(x3, x4), t4 = sub(x3, x4);

    // Even part.
    const int16_t t10 = add(t0, t3), t13 = sub(t0, t3);
    const int16_t t11 = add(t1, t2), t12 = sub(t1, t2);
    const int16_t z1 = mulHigh(shiftLeft(add(t12, t13), 1), kC1);

    // Odd part.
    const int16_t p10 = add(t4, t5), p11 = add(t5, t6), p12 = add(t6, t7);
    const int16_t z3 = mulHigh(shiftLeft(p11, 1), kC1);
    const int16_t z5 = mulHigh(sub(p10, p12), kC2);
    const int16_t z4 = add(mulHigh(shiftLeft(p12, 2), kC3), z5);
    const int16_t z2 = add(mulHigh(shiftLeft(p10, 1), kC4), z5);
    const int16_t z11 = add(t7, z3), z13 = sub(t7, z3);

    y[0] = add(t10, t11);
    y[1] = add(z11, z4);
    y[2] = add(t13, z1);
    y[3] = sub(z13, z2);
    y[4] = sub(t10, t11);
    y[5] = add(z13, z2);
    y[6] = sub(t13, z1);
    y[7] = sub(z11, z4);
}

constexpr bool fitsSignedMultiplier(const int16_t* t) {
    for (int i = 0; i < 64; ++i)
        if (t[i] <= 0) return false;
    return true;
}
// A step of 1 makes the reciprocal the entry itself, which the transform multiplies as a signed
// 16-bit value: every entry must be positive and below 2^15.
static_assert(fitsSignedMultiplier(ScaleTable));

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
    // Pass 1 down the columns, written transposed: row c of `t` holds column c's frequencies u.
    int16_t column[8], t[64];
    for (int c = 0; c < 8; ++c) {
        transform8(block + c, 8, column);  // x_k = row k of column c
        for (int u = 0; u < 8; ++u) t[c * 8 + u] = column[u];
    }
    // Pass 2 along the other direction: for each u, x_k = t[k * 8 + u], giving frequency v.
    for (int u = 0; u < 8; ++u) {
        int16_t y[8];
        for (int k = 0; k < 8; ++k) y[k] = t[k * 8 + u];
        transform8(y, 1, y);
        for (int v = 0; v < 8; ++v) {
            const int16_t r = static_cast<int16_t>(reciprocals[v * 8 + u]);
            const int16_t m = mulHigh(shiftLeft(y[v], preShift(u, v)), r);
            block[v * 8 + u] = static_cast<int16_t>(add(m, 1) >> 1);
        }
    }
}

void forwardDctQuantizePair(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                            const uint16_t* secondReciprocals) {
    forwardDctQuantize(first, firstReciprocals);
    forwardDctQuantize(second, secondReciprocals);
}
