// Quarter turns of 8 x 8 sample blocks, applied before the transform so that the coded picture
// stands turned. Output sample (i, j) is row i, column j; destination may be the source.
#pragma once

#include <cstdint>

// out(i, j) = in(j, 7 - i): the right-hand column becomes the top row (rotation 1).
void rotateBlock90(int16_t* destination, const int16_t* source);
// out(i, j) = in(7 - i, 7 - j) (rotation 2).
void rotateBlock180(int16_t* destination, const int16_t* source);
// out(i, j) = in(7 - j, i) (rotation 3).
void rotateBlock270(int16_t* destination, const int16_t* source);

// Vector variants (x86-64 only): a transpose of eight 8-lane rows, with rows or lanes reversed.
void rotateBlock90Sse2(int16_t* destination, const int16_t* source);
void rotateBlock180Sse2(int16_t* destination, const int16_t* source);
void rotateBlock270Sse2(int16_t* destination, const int16_t* source);
