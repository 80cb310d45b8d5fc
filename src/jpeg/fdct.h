// Quantisation of the built-in encoder: the quality-scaled tables, their reciprocals, and the
// forward DCT with quantisation folded into one multiply per coefficient (fdct.cpp has the
// account of the arithmetic).
//
// Orders: quantisation tables are in natural order (index u * 8 + v, u the vertical and v the
// horizontal frequency); reciprocals and quantised coefficient blocks are transposed
// (index v * 8 + u), which is the order the transform's second pass leaves them in.
#pragma once

#include <cstdint>

struct JpegEncoder;

// 2^14 / (a_u a_v) / 2^s(u,v), natural order, with a_0 = 1 and a_k = sqrt(2) cos(k pi / 16):
// the AAN output scale, the factor 8 of the unnormalised transform and the pre-shift s of the
// quantisation step. Where rounding the formula and these entries disagree, the entries rule.
inline constexpr int16_t ScaleTable[64] = {
    16384, 11812, 12541, 13933, 16384, 20853, 30274, 29692,  // u = 0
    11812, 8516,  9041,  10045, 11812, 15034, 21826, 21407,  // u = 1
    12541, 9041,  9598,  10664, 12541, 15960, 23170, 22725,  // u = 2
    13933, 10045, 10664, 11850, 13933, 17734, 25746, 25251,  // u = 3
    8192,  5906,  6270,  6967,  8192,  5213,  7568,  7423,   // u = 4
    10426, 7517,  7980,  8867,  10426, 6635,  9633,  9448,   // u = 5
    15137, 10913, 11585, 12873, 15137, 9633,  13985, 13716,  // u = 6
    29692, 21407, 22725, 25251, 29692, 18895, 27432, 26905,  // u = 7
};

// s(u, v), the pre-shift of the quantisation step: for u < 4, 0 (v < 7) or 1 (v = 7); for u >= 4,
// 1 (v <= 4), 2 (v = 5, 6) or 3 (v = 7).
constexpr int preShift(int u, int v) {
    if (u < 4) return v == 7 ? 1 : 0;
    return v <= 4 ? 1 : (v == 7 ? 3 : 2);
}

// 2^s(u,v) at index v * 8 + u: the pre-shift as a multiplier, for vector code that cannot shift
// each lane by its own amount (the low half of a 16-bit product by 2^s is the plain shift).
struct PreShiftMultipliers {
    alignas(32) int16_t m[64];
};
inline constexpr PreShiftMultipliers kPreShiftMultipliers = [] {
    PreShiftMultipliers t{};
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) t.m[v * 8 + u] = static_cast<int16_t>(1 << preShift(u, v));
    return t;
}();

// Tables K.1 (luminance) and K.2 (chrominance) of ITU-T T.81, natural order.
inline constexpr uint8_t kLumaQuantBase[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,   //
};
inline constexpr uint8_t kChromaQuantBase[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
};

// Scales both base tables for `quality` (the IJG convention: 50 keeps them, 100 gives all ones,
// 0 counts as 1 x 50 and above 100 as 100) into lumaQuant and chromaQuant, and builds their
// reciprocals.
void setQuality(JpegEncoder& encoder, uint32_t quality);

// reciprocals[v * 8 + u] = (ScaleTable[u * 8 + v] + q / 2) / q for q = quant[u * 8 + v].
void buildReciprocals(const uint8_t* quant, uint16_t* reciprocals);

// The scalar reference: transforms the level-shifted sample block (row-major, every sample in
// -128..127) in place into quantised coefficients at index v * 8 + u. It sums in plain 32-bit
// arithmetic: on samples no sum can saturate (fdct.cpp proves it at compile time).
void forwardDctQuantize(int16_t* block, const uint16_t* reciprocals);

// The same transform on any 16-bit input, every sum saturating: the definition the vector
// variants follow lane for lane. Equal to forwardDctQuantize on samples.
void forwardDctQuantizeSaturating(int16_t* block, const uint16_t* reciprocals);

// Two blocks, one after the other, through the reference.
void forwardDctQuantizePair(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                            const uint16_t* secondReciprocals);

// Vector variants (x86-64 only), bit-identical to the reference.
void forwardDctQuantizeSse2(int16_t* block, const uint16_t* reciprocals);
void forwardDctQuantizePairSse2(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                                const uint16_t* secondReciprocals);
void forwardDctQuantizeAvx2(int16_t* block, const uint16_t* reciprocals);
// Both blocks at once, one in each 128-bit half of the registers.
void forwardDctQuantizePairAvx2(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                                const uint16_t* secondReciprocals);
