// The JFIF header block of the built-in encoder: everything of a baseline stream that precedes
// the entropy-coded data.
#pragma once

#include <cstdint>

struct JpegEncoder;

// Writes SOI, APP0 (JFIF 1.02, aspect ratio 72:72), the quantisation tables in zigzag order, the
// four standard Huffman tables, SOF0 and SOS at `output` (the chrominance tables and components
// only for colour) and stores the length in encoder.headerLength: 623 bytes for colour, 328 for
// grey. SOF0 gives the turned size: lines then samples per line are height then width, or width
// then height for rotation 1 and 3. Returns the length.
uint32_t writeJpegHeaders(JpegEncoder& encoder, uint8_t* output);
