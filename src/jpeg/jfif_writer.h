// The JFIF header block of the built-in encoder: everything of a baseline stream that precedes
// the entropy-coded data.
#pragma once

#include <cstdint>

struct JpegEncoder;

// The markers a baseline stream uses: 0xFF then this code (ITU-T T.81 B.1.1.3, Table B.1).
enum JpegMarker : uint8_t {
    kMarkerSof0 = 0xC0,  // start of frame, baseline DCT (B.2.2)
    kMarkerDht = 0xC4,   // define Huffman tables (B.2.4.2)
    kMarkerSoi = 0xD8,   // start of image (B.2.1)
    kMarkerEoi = 0xD9,   // end of image (B.2.1)
    kMarkerSos = 0xDA,   // start of scan (B.2.3)
    kMarkerDqt = 0xDB,   // define quantisation tables (B.2.4.1)
    kMarkerApp0 = 0xE0,  // application segment 0: the JFIF header (JFIF 1.02)
};
constexpr uint8_t kMarkerPrefix = 0xFF;  // every marker starts with it (B.1.1.2)

// Writes SOI, APP0 (JFIF 1.02, aspect ratio 72:72), the quantisation tables in zigzag order, the
// four standard Huffman tables, SOF0 and SOS at `output` (the chrominance tables and components
// only for colour) and stores the length in encoder.headerLength: 623 bytes for colour, 328 for
// grey. SOF0 gives the turned size: lines then samples per line are height then width, or width
// then height for rotation 1 and 3. Returns the length.
uint32_t writeJpegHeaders(JpegEncoder& encoder, uint8_t* output);
