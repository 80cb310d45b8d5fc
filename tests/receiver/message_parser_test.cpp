// The webcam message parser on whole, split, truncated and random streams.
#include "message_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <tuple>

#include "receiver/test_device.h"

namespace {

constexpr uint32_t kLimit = 1 << 16;

TEST(MessageParser, ReadsTheFieldsAndRestoresThePictureAndEveryPrefixAsksForMore) {
    const std::vector<uint8_t> jpeg = testdevice::fakeJpeg(301, 7);
    const std::vector<uint8_t> message = testdevice::message(jpeg, 0xDEADBEEF, 640, 480);
    const ParseResult r = parseMessage(message.data(), message.size(), kLimit);
    ASSERT_EQ(r.status, ParseStatus::Message);
    EXPECT_EQ(r.consumed, jpeg.size() + 32);
    EXPECT_EQ(std::tuple(r.tick, r.width, r.height), std::tuple(0xDEADBEEFu, 640u, 480u));
    EXPECT_EQ(restorePicture(r), jpeg);
    for (size_t n = 0; n < message.size(); ++n) {
        const ParseResult part = parseMessage(message.data(), n, kLimit);
        ASSERT_EQ(part.status, ParseStatus::NeedMore) << n;
        EXPECT_GT(part.needed, n);
        EXPECT_LE(part.needed, message.size());
    }
}

TEST(MessageParser, RefusesBrokenHeadersAsSoonAsTheyArrive) {
    std::vector<uint8_t> message = testdevice::message(testdevice::fakeJpeg(40, 1), 5, 8, 8);
    auto check = [&](size_t at, uint32_t value, ParseError error, size_t bytes) {
        std::vector<uint8_t> broken = message;
        for (int i = 0; i < 4; ++i) broken[at + i] = uint8_t(value >> (8 * i));
        const ParseResult r = parseMessage(broken.data(), bytes, kLimit);
        EXPECT_EQ(r.status, ParseStatus::Bad) << at;
        EXPECT_EQ(r.error, error) << at;
        EXPECT_EQ(r.badValue, value) << at;
        EXPECT_FALSE(describeParseError(r, kLimit).empty());
    };
    check(20, 0x12345678, ParseError::WordA, 24);
    check(24, 0x5B3E9A17, ParseError::WordB, 28);
    check(28, 7, ParseError::TooShort, 32);
    check(28, kLimit + 1, ParseError::TooLong, 32);
    check(28, 0xFFFFFFFF, ParseError::TooLong, 32);
}

TEST(MessageParser, SplitsAStreamFedInRandomPieces) {
    std::mt19937 random(1234);
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<uint8_t> stream;
    for (int k = 0; k < 40; ++k) {
        pictures.push_back(testdevice::fakeJpeg(8 + random() % 3000, k));
        const std::vector<uint8_t> m = testdevice::message(pictures.back(), k, k, k + 1);
        stream.insert(stream.end(), m.begin(), m.end());
    }
    std::vector<uint8_t> buffer;
    size_t fed = 0;
    size_t found = 0;
    while (fed < stream.size()) {
        const size_t piece = std::min<size_t>(1 + random() % 700, stream.size() - fed);
        buffer.insert(buffer.end(), stream.begin() + fed, stream.begin() + fed + piece);
        fed += piece;
        for (;;) {
            const ParseResult r = parseMessage(buffer.data(), buffer.size(), kLimit);
            ASSERT_NE(r.status, ParseStatus::Bad);
            if (r.status == ParseStatus::NeedMore) break;
            ASSERT_LT(found, pictures.size());
            EXPECT_EQ(restorePicture(r), pictures[found]);
            EXPECT_EQ(r.tick, found);
            ++found;
            buffer.erase(buffer.begin(), buffer.begin() + r.consumed);
        }
    }
    EXPECT_EQ(found, pictures.size());
    EXPECT_TRUE(buffer.empty());
}

TEST(MessageParser, RandomBytesNeverReadOutsideTheirBuffer) {
    // Each buffer is allocated to its exact size, so the address sanitizer catches any read
    // beyond it; a message cut short anywhere is asked to be completed, never taken.
    std::mt19937 random(99);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes(random() % 80);
        for (uint8_t& b : bytes) b = uint8_t(random());
        if (bytes.size() >= 28 && round % 2 == 0) {  // often a valid start, to go deeper
            const std::vector<uint8_t> head =
                testdevice::message({0xFF, 0xD8, 1, 2, 3, 4, 5, 6}, 0, 0, 0);
            std::copy(head.begin() + 20, head.begin() + 28, bytes.begin() + 20);
            if (round % 4 == 0 && bytes.size() >= 32) bytes[28] = uint8_t(bytes.size() - 32);
            if (round % 4 == 0 && bytes.size() >= 32) bytes[29] = bytes[30] = bytes[31] = 0;
        }
        std::unique_ptr<uint8_t[]> exact = std::make_unique<uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), exact.get());
        const ParseResult r = parseMessage(exact.get(), bytes.size(), 64);
        if (r.status == ParseStatus::Message) {
            EXPECT_LE(r.consumed, bytes.size());
            EXPECT_EQ(restorePicture(r).size(), r.pictureBytes);
        } else if (r.status == ParseStatus::NeedMore) {
            EXPECT_GT(r.needed, bytes.size());
        }
    }
}

}  // namespace
