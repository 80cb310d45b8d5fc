#include "message_parser.h"

#include <cstdio>

namespace {

constexpr size_t kWordAOffset = 20;
constexpr size_t kWordBOffset = 24;
constexpr size_t kLengthOffset = 28;
constexpr size_t kTickOffset = 32;
constexpr size_t kSizeOffset = 36;

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

ParseResult bad(ParseError error, uint32_t value) {
    ParseResult r;
    r.status = ParseStatus::Bad;
    r.needed = 0;
    r.error = error;
    r.badValue = value;
    return r;
}

ParseResult needMore(size_t bytes) {
    ParseResult r;
    r.needed = bytes;
    return r;
}

}  // namespace

ParseResult parseMessage(const uint8_t* data, size_t size, uint32_t maxPicture) {
    if (size < kWordAOffset + 4) return needMore(kMessageHeaderBytes);
    const uint32_t wordA = get32(data + kWordAOffset);
    if (wordA != kWebcamWordA) return bad(ParseError::WordA, wordA);
    if (size < kWordBOffset + 4) return needMore(kMessageHeaderBytes);
    const uint32_t wordB = get32(data + kWordBOffset);
    if (wordB != kWebcamWordB) return bad(ParseError::WordB, wordB);
    if (size < kLengthOffset + 4) return needMore(kMessageHeaderBytes);
    const uint32_t length = get32(data + kLengthOffset);
    if (length < kReplacedPictureBytes) return bad(ParseError::TooShort, length);
    if (length > maxPicture) return bad(ParseError::TooLong, length);
    const size_t total = size_t{length} + kMessageHeaderBytes;
    if (size < total) return needMore(total);

    ParseResult r;
    r.status = ParseStatus::Message;
    r.needed = 0;
    r.consumed = total;
    r.tick = get32(data + kTickOffset);
    const uint32_t size16 = get32(data + kSizeOffset);
    r.width = size16 & 0xFFFF;
    r.height = size16 >> 16;
    r.pictureBytes = length;
    r.pictureTail = data + kMessageHeaderBytes + kReplacedPictureBytes;
    return r;
}

std::vector<uint8_t> restorePicture(const ParseResult& message) {
    if (message.status != ParseStatus::Message) return {};
    std::vector<uint8_t> picture(kJfifStart, kJfifStart + kReplacedPictureBytes);
    picture.insert(picture.end(), message.pictureTail,
                   message.pictureTail + (message.pictureBytes - kReplacedPictureBytes));
    return picture;
}

std::string describeParseError(const ParseResult& result, uint32_t maxPicture) {
    char line[160];
    switch (result.error) {
        case ParseError::WordA:
            std::snprintf(line, sizeof line, "header word A is 0x%08X, expected 0x%08X",
                          result.badValue, kWebcamWordA);
            break;
        case ParseError::WordB:
            std::snprintf(line, sizeof line, "header word B is 0x%08X, expected 0x%08X",
                          result.badValue, kWebcamWordB);
            break;
        case ParseError::TooShort:
            std::snprintf(line, sizeof line,
                          "picture length %u is shorter than the %u bytes every picture starts "
                          "with",
                          result.badValue, kReplacedPictureBytes);
            break;
        case ParseError::TooLong:
            std::snprintf(line, sizeof line, "picture length %u is over the limit of %u bytes",
                          result.badValue, maxPicture);
            break;
        case ParseError::None:
            std::snprintf(line, sizeof line, "no error");
            break;
    }
    return line;
}
