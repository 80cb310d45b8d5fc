// The JFIF header writer. All numbers are big-endian; components are 1 (Y), 2 (Cb), 3 (Cr);
// quantisation table 0 is luminance, 1 chrominance; Huffman tables of class 0 (DC) and 1 (AC),
// identifier 0 for luminance and 1 for chrominance.
#include "jpeg/jfif_writer.h"

#include "jpeg/encoder.h"
#include "jpeg/huffman.h"

namespace {

constexpr char kJfifIdentifier[5] = {'J', 'F', 'I', 'F', '\0'};

struct Writer {
    uint8_t* p;

    void byte(uint32_t b) { *p++ = static_cast<uint8_t>(b); }
    void word(uint32_t w) {
        byte(w >> 8);
        byte(w & 0xFF);
    }
    void marker(JpegMarker code) {
        byte(kMarkerPrefix);
        byte(code);
    }
};

void writeQuantTable(Writer& w, uint32_t id, const uint8_t* quant) {
    w.marker(kMarkerDqt);
    w.word(2 + 1 + 64);
    w.byte(id);  // precision 8 bits (upper nibble 0), table id
    for (int k = 0; k < 64; ++k) {
        // Zigzag position k is natural index (u, v) = (row, column); kReadOrder gives v * 8 + u.
        const uint32_t transposed = kReadOrder.index[k];
        w.byte(quant[(transposed & 7) * 8 + (transposed >> 3)]);
    }
}

void writeHuffmanTable(Writer& w, uint32_t classAndId, const HuffmanSpec& spec) {
    w.marker(kMarkerDht);
    w.word(2 + 1 + 16 + spec.symbolCount);
    w.byte(classAndId);
    for (uint8_t count : spec.counts) w.byte(count);
    for (int i = 0; i < spec.symbolCount; ++i) w.byte(spec.symbols[i]);
}

}  // namespace

uint32_t writeJpegHeaders(JpegEncoder& encoder, uint8_t* output) {
    const bool grey = encoder.format == ChromaGrey;
    const bool turned = encoder.rotation == 1 || encoder.rotation == 3;
    Writer w{output};

    w.marker(kMarkerSoi);

    w.marker(kMarkerApp0);
    w.word(16);
    for (const char c : kJfifIdentifier) w.byte(static_cast<uint8_t>(c));
    w.byte(1);  // version 1.02
    w.byte(2);
    w.byte(0);  // density units: none, aspect ratio only
    w.word(72);
    w.word(72);
    w.byte(0);  // no thumbnail
    w.byte(0);

    writeQuantTable(w, 0, encoder.lumaQuant);
    if (!grey) writeQuantTable(w, 1, encoder.chromaQuant);

    writeHuffmanTable(w, 0x00, kDcLumaSpec);
    writeHuffmanTable(w, 0x10, kAcLumaSpec);
    if (!grey) {
        writeHuffmanTable(w, 0x01, kDcChromaSpec);
        writeHuffmanTable(w, 0x11, kAcChromaSpec);
    }

    // SOF0: the luminance sampling factors describe the macroblock; a one-component scan is coded
    // in plain block raster order whatever they say.
    const uint32_t components = grey ? 1 : 3;
    uint32_t lumaFactors = 0x22;
    if (encoder.format == Chroma422) lumaFactors = 0x21;
    if (grey && !turned) lumaFactors = 0x11;
    w.marker(kMarkerSof0);
    w.word(8 + 3 * components);
    w.byte(8);                                        // sample precision
    w.word(turned ? encoder.width : encoder.height);  // lines
    w.word(turned ? encoder.height : encoder.width);  // samples per line
    w.byte(components);
    w.byte(1);
    w.byte(lumaFactors);
    w.byte(0);
    if (!grey) {
        for (uint32_t id = 2; id <= 3; ++id) {
            w.byte(id);
            w.byte(0x11);
            w.byte(1);
        }
    }

    w.marker(kMarkerSos);
    w.word(6 + 2 * components);
    w.byte(components);
    w.byte(1);
    w.byte(0x00);
    if (!grey) {
        w.byte(2);
        w.byte(0x11);
        w.byte(3);
        w.byte(0x11);
    }
    w.byte(0);  // spectral selection 0..63
    w.byte(63);
    w.byte(0);  // successive approximation

    encoder.headerLength = static_cast<uint32_t>(w.p - output);
    return encoder.headerLength;
}
