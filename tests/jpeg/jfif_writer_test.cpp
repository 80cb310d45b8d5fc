// The JFIF header block: exact bytes where they are fixed, segment structure otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

// The colour header is 623 bytes whatever the size; the SOF0 carries the turned size, and 4:2:2
// turned a quarter becomes 4:2:0 (the luma sampling 0x22).
TEST(JfifHeaders, ColourHeadersAre623BytesWithTheFixedSof0) {
    EncoderPtr e(createJpegEncoder());
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 1), 1u);
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 3), 1u);
    EXPECT_EQ(configureJpegEncoder(*e, 320, 240, 75, 2, 1, 1, 2), 2u);
    // The SOF0's lines and samples per line are the turned size: 480 x 640, then 320 x 240.
    const struct {
        uint32_t width, height, format, rotation;
        uint8_t size[4];
    } cases[] = {{640, 480, 1, 0, {0x01, 0xE0, 0x02, 0x80}},
                 {320, 240, 2, 1, {0x01, 0x40, 0x00, 0xF0}}};
    const Bytes start = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                         0x00, 0x01, 0x02, 0x00, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};
    const Bytes sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                       0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    Bytes sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0,    0,    0,    0,   0x03,
                  0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const Bytes header = headerFor(*e, c.width, c.height, c.format, c.rotation);
        std::copy(c.size, c.size + 4, sof0.begin() + 5);
        ASSERT_EQ(header.size(), 623u);
        EXPECT_EQ(e->headerLength, 623u);
        EXPECT_TRUE(std::equal(start.begin(), start.end(), header.begin()));
        EXPECT_NE(std::search(header.begin(), header.end(), sof0.begin(), sof0.end()),
                  header.end());
        EXPECT_TRUE(std::equal(sos.begin(), sos.end(), header.end() - long(sos.size())));
    }
}

TEST(JfifHeaders, GreyHasOneDqtTwoDhtAndShortSofAndSos) {
    EncoderPtr e(createJpegEncoder());
    for (uint32_t rotation : {0u, 1u}) {
        const Bytes header = headerFor(*e, 64, 32, 4, rotation);
        ASSERT_EQ(header.size(), 328u);
        std::vector<std::pair<uint8_t, size_t>> lengths;  // marker, segment length
        for (const auto& [marker, body] : segments(header)) {
            lengths.emplace_back(marker, body.size() + 2);
            if (marker == 0xC0) {
                EXPECT_EQ(body[5], 1);  // one component
                EXPECT_EQ(body[7], rotation == 0 ? 0x11 : 0x22);
            }
        }
        // One DQT, two DHT (DC and AC), a SOF0 of 11 bytes and a SOS of 8.
        std::sort(lengths.begin(), lengths.end());
        EXPECT_EQ(lengths,
                  (std::vector<std::pair<uint8_t, size_t>>{
                      {0xC0, 11}, {0xC4, 31}, {0xC4, 181}, {0xDA, 8}, {0xDB, 67}, {0xE0, 16}}));
    }
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
    // The DHT bodies of a stream, in order of their bytes.
    const auto tables = [](const Bytes& stream) {
        std::vector<Bytes> dht;
        for (const auto& [marker, body] : segments(stream))
            if (marker == 0xC4) dht.push_back(body);
        std::sort(dht.begin(), dht.end());
        return dht;
    };
    EncoderPtr e(createJpegEncoder());
    EXPECT_EQ(tables(headerFor(*e, 16, 16, 1, 0)), tables(theirs));
}

}  // namespace
