// The JFIF header block: exact bytes where they are fixed, segment structure otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "jpeg/fdct.h"
#include "jpeg/jfif_writer.h"
#include "jpeg/jpeg_test_support.h"

namespace {

using jpegtest::EncoderPtr;
using Bytes = std::vector<uint8_t>;

// The segments after SOI up to SOS: marker, then the body after the length.
std::vector<std::pair<uint8_t, Bytes>> segments(const Bytes& header) {
    std::vector<std::pair<uint8_t, Bytes>> out;
    for (size_t i = 2; i + 4 <= header.size();) {
        const size_t length = (header[i + 2] << 8) | header[i + 3];
        out.emplace_back(header[i + 1], Bytes(header.begin() + long(i) + 4,
                                              header.begin() + long(i) + 2 + long(length)));
        if (header[i + 1] == 0xDA) break;
        i += 2 + length;
    }
    return out;
}

Bytes headerFor(JpegEncoder& e, uint32_t w, uint32_t h, uint32_t format, uint32_t rotation,
                uint32_t quality = 75) {
    configureJpegEncoder(e, w, h, quality, format, 1, 1, rotation);
    Bytes out(1000, 0);
    out.resize(writeJpegHeaders(e, out.data()));
    return out;
}

TEST(JfifHeaders, ColourHeaderOf640x480Is623BytesWithTheFixedSof0) {
    EncoderPtr e(createJpegEncoder());
    const Bytes header = headerFor(*e, 640, 480, 1, 0);
    ASSERT_EQ(header.size(), 623u);
    EXPECT_EQ(e->headerLength, 623u);
    const Bytes start = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                         0x00, 0x01, 0x02, 0x00, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};
    EXPECT_TRUE(std::equal(start.begin(), start.end(), header.begin()));
    const Bytes sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03,
                        0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    EXPECT_NE(std::search(header.begin(), header.end(), sof0.begin(), sof0.end()), header.end());
    const Bytes sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                       0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    EXPECT_TRUE(std::equal(sos.begin(), sos.end(), header.end() - long(sos.size())));
}

TEST(JfifHeaders, GreyHasOneDqtTwoDhtAndShortSofAndSos) {
    EncoderPtr e(createJpegEncoder());
    for (uint32_t rotation : {0u, 1u}) {
        const Bytes header = headerFor(*e, 64, 32, 4, rotation);
        ASSERT_EQ(header.size(), 328u);
        std::vector<uint8_t> markers;
        for (const auto& [marker, body] : segments(header)) {
            markers.push_back(marker);
            if (marker == 0xC0) {
                EXPECT_EQ(body.size() + 2, 11u);
                EXPECT_EQ(body[5], 1);  // one component
                EXPECT_EQ(body[7], rotation == 0 ? 0x11 : 0x22);
            }
            if (marker == 0xDA) {
                EXPECT_EQ(body.size() + 2, 8u);
            }
        }
        std::sort(markers.begin(), markers.end());
        EXPECT_EQ(markers, (Bytes{0xC0, 0xC4, 0xC4, 0xDA, 0xDB, 0xE0}));  // one DQT, two DHT
    }
}

// T.81 zigzag: 0, 1, 8, 16, 9, 2, ... in natural order; at quality 50 the base tables.
TEST(JfifHeaders, QuantisationTablesGoOutInZigzagOrder) {
    EncoderPtr e(createJpegEncoder());
    std::vector<Bytes> dqt;
    for (const auto& [marker, body] : segments(headerFor(*e, 32, 16, 2, 0, 50))) {
        if (marker == 0xDB) dqt.push_back(body);
        if (marker == 0xC0) {
            EXPECT_EQ(body[7], 0x21);  // 4:2:2
        }
    }
    ASSERT_EQ(dqt.size(), 2u);
    const int zigzag[7] = {0, 1, 8, 16, 9, 2, 63};
    const int position[7] = {0, 1, 2, 3, 4, 5, 63};
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(dqt[0][1 + position[k]], kLumaQuantBase[zigzag[k]]);
        EXPECT_EQ(dqt[1][1 + position[k]], kChromaQuantBase[zigzag[k]]);
    }
    EXPECT_EQ(dqt[0][0], 0);
    EXPECT_EQ(dqt[1][0], 1);
}

// The four Huffman tables are the T.81 Annex K tables, as libjpeg-turbo writes them by default.
TEST(JfifHeaders, HuffmanTablesAreTheOnesLibjpegWrites) {
    std::vector<uint8_t> pixels(16 * 16 * 3, 100);
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(h, pixels.data(), 16, 0, 16, TJPF_RGB, &jpeg, &size, TJSAMP_420, 75, 0),
              0);
    const Bytes theirs(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(h);
    EncoderPtr e(createJpegEncoder());
    std::vector<Bytes> expected, got;
    for (const auto& [marker, body] : segments(theirs))
        if (marker == 0xC4) expected.push_back(body);
    for (const auto& [marker, body] : segments(headerFor(*e, 16, 16, 1, 0)))
        if (marker == 0xC4) got.push_back(body);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
}

TEST(JfifHeaders, QuarterTurnsExchangeLinesAndSamplesAndMake422Into420) {
    EncoderPtr e(createJpegEncoder());
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 1), 1u);
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 3), 1u);
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 2), 2u);
    for (const auto& [marker, body] : segments(headerFor(*e, 320, 240, 1, 1))) {
        if (marker != 0xC0) continue;
        EXPECT_EQ((body[1] << 8) | body[2], 320);  // lines
        EXPECT_EQ((body[3] << 8) | body[4], 240);  // samples per line
    }
}

}  // namespace
