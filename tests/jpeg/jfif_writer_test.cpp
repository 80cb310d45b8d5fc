// The JFIF header block: exact bytes where they are fixed, segment structure otherwise.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "jpeg/encoder.h"
#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/jfif_writer.h"

namespace {

struct EncoderDeleter {
    void operator()(JpegEncoder* e) const { freeJpegEncoder(e); }
};
using EncoderPtr = std::unique_ptr<JpegEncoder, EncoderDeleter>;

struct Segment {
    uint8_t marker;
    std::vector<uint8_t> body;  // after the length
};

std::vector<Segment> segments(const std::vector<uint8_t>& header) {
    std::vector<Segment> out;
    size_t i = 2;  // after SOI
    while (i + 4 <= header.size()) {
        const uint8_t marker = header[i + 1];
        const size_t length = (header[i + 2] << 8) | header[i + 3];
        out.push_back({marker, std::vector<uint8_t>(header.begin() + long(i) + 4,
                                                    header.begin() + long(i) + 2 + long(length))});
        i += 2 + length;
    }
    return out;
}

std::vector<uint8_t> headerFor(JpegEncoder& e, uint32_t w, uint32_t h, uint32_t format,
                               uint32_t rotation, uint32_t quality = 75) {
    configureJpegEncoder(e, w, h, quality, format, 1, 1, rotation);
    std::vector<uint8_t> out(1000, 0);
    out.resize(writeJpegHeaders(e, out.data()));
    return out;
}

TEST(JfifHeaders, ColourHeaderOf640x480Is623BytesWithTheFixedSof0) {
    EncoderPtr e(createJpegEncoder());
    const auto header = headerFor(*e, 640, 480, 1, 0);
    ASSERT_EQ(header.size(), 623u);
    EXPECT_EQ(e->headerLength, 623u);
    EXPECT_EQ(header[0], 0xFF);
    EXPECT_EQ(header[1], 0xD8);
    const std::vector<uint8_t> app0 = {0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                       0x01, 0x02, 0x00, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};
    EXPECT_TRUE(std::equal(app0.begin(), app0.end(), header.begin() + 2));
    const std::vector<uint8_t> sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03,
                                       0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    EXPECT_NE(std::search(header.begin(), header.end(), sof0.begin(), sof0.end()), header.end());
    const std::vector<uint8_t> sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                                      0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    EXPECT_TRUE(std::equal(sos.begin(), sos.end(), header.end() - long(sos.size())));
}

TEST(JfifHeaders, GreyHasOneDqtTwoDhtAndShortSofAndSos) {
    EncoderPtr e(createJpegEncoder());
    for (uint32_t rotation : {0u, 1u}) {
        const auto header = headerFor(*e, 64, 32, 4, rotation);
        ASSERT_EQ(header.size(), 328u);
        int dqt = 0, dht = 0;
        for (const Segment& s : segments(header)) {
            if (s.marker == 0xDB) ++dqt;
            if (s.marker == 0xC4) ++dht;
            if (s.marker == 0xC0) {
                EXPECT_EQ(s.body.size() + 2, 11u);
                EXPECT_EQ(s.body[5], 1);  // one component
                EXPECT_EQ(s.body[7], rotation == 0 ? 0x11 : 0x22);
            }
            if (s.marker == 0xDA) {
                EXPECT_EQ(s.body.size() + 2, 8u);
            }
        }
        EXPECT_EQ(dqt, 1);
        EXPECT_EQ(dht, 2);
    }
}

TEST(JfifHeaders, QuantisationTablesGoOutInZigzagOrder) {
    EncoderPtr e(createJpegEncoder());
    const auto header = headerFor(*e, 32, 16, 2, 0, 50);
    const auto all = segments(header);
    std::vector<const Segment*> dqt;
    for (const Segment& s : all)
        if (s.marker == 0xDB) dqt.push_back(&s);
    ASSERT_EQ(dqt.size(), 2u);
    // T.81 zigzag: 0, 1, 8, 16, 9, 2, ... in natural order; at quality 50 the base tables.
    const int zigzag[6] = {0, 1, 8, 16, 9, 2};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(dqt[0]->body[1 + k], kLumaQuantBase[zigzag[k]]);
        EXPECT_EQ(dqt[1]->body[1 + k], kChromaQuantBase[zigzag[k]]);
    }
    EXPECT_EQ(dqt[0]->body[0], 0);
    EXPECT_EQ(dqt[1]->body[0], 1);
    EXPECT_EQ(dqt[0]->body[64], kLumaQuantBase[63]);
    for (const Segment& s : all) {
        if (s.marker == 0xC0) {
            EXPECT_EQ(s.body[7], 0x21);  // 4:2:2
        }
    }
}

TEST(JfifHeaders, QuarterTurnsExchangeLinesAndSamplesAndMake422Into420) {
    EncoderPtr e(createJpegEncoder());
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 1), 1u);
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 3), 1u);
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 2), 2u);
    const auto header = headerFor(*e, 320, 240, 1, 1);
    for (const Segment& s : segments(header)) {
        if (s.marker != 0xC0) continue;
        EXPECT_EQ((s.body[1] << 8) | s.body[2], 320);  // lines
        EXPECT_EQ((s.body[3] << 8) | s.body[4], 240);  // samples per line
    }
}

}  // namespace
