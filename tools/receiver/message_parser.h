// The webcam stream's message format, as the device sends it, and a pure parser for it.
//
// A message is L + 32 bytes, little-endian words:
//   0   20     not set by the device (it writes zeros); ignored
//   20  4      header word A, 0x5B3E9A17
//   24  4      header word B, 0xC6D20F84
//   28  4      L, the length of the JPEG picture
//   32  4      the frame's tick, milliseconds
//   36  4      width in the low 16 bits, height in the high 16 bits
//   40  L - 8  the JPEG picture from its ninth byte on
// The picture's first 8 bytes (SOI, APP0 marker and length, "JF") were overwritten by the words
// at 32 and 36; restorePicture puts them back. Messages follow each other without other framing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kWebcamWordA = 0x5B3E9A17;
constexpr uint32_t kWebcamWordB = 0xC6D20F84;
constexpr uint32_t kMessageHeaderBytes = 32;   // bytes of a message before its picture
constexpr uint32_t kReplacedPictureBytes = 8;  // picture bytes carried by the tick and size words
constexpr uint8_t kJfifStart[kReplacedPictureBytes] = {0xFF, 0xD8, 0xFF, 0xE0,
                                                       0x00, 0x10, 0x4A, 0x46};
// The largest picture a device can send: the largest photo any profile allows (1600 x 1200) as a
// 4:2:0 JPEG at quality 100. The device encodes into its photo buffer, 2 bytes per pixel of that
// photo, and a picture (with its 32-byte message header) never outgrows it; so no longer picture
// is ever real, and a length above this is refused as soon as it arrives.
constexpr uint32_t kLargestPhotoWidth = 1600;
constexpr uint32_t kLargestPhotoHeight = 1200;
constexpr uint32_t kLargestDevicePicture = kLargestPhotoWidth * kLargestPhotoHeight * 2;
constexpr uint32_t kDefaultMaxPicture = kLargestDevicePicture;

enum class ParseStatus {
    NeedMore,  // the bytes so far are a valid start; `needed` bytes make the next step possible
    Message,   // a whole message starts the bytes; it is `consumed` bytes long
    Bad,       // the bytes break the format; `error` says how
};

enum class ParseError { None, WordA, WordB, TooShort, TooLong };

struct ParseResult {
    ParseStatus status = ParseStatus::NeedMore;
    size_t needed = kMessageHeaderBytes;  // NeedMore: bytes needed before parsing again
    size_t consumed = 0;                  // Message: L + 32
    ParseError error = ParseError::None;
    uint32_t badValue = 0;  // Bad: the offending word
    uint32_t tick = 0;      // Message fields
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pictureBytes = 0;             // L
    const uint8_t* pictureTail = nullptr;  // the picture from its ninth byte: L - 8 bytes
};

// Looks at the start of `data` (`size` bytes received so far). Checks each header word as soon
// as it has arrived, so a stream that breaks the format is refused early. Never reads beyond
// `size`; keeps no state.
ParseResult parseMessage(const uint8_t* data, size_t size, uint32_t maxPicture);

// The complete JPEG picture of a parsed message.
std::vector<uint8_t> restorePicture(const ParseResult& message);

// One line saying what was wrong, for a Bad result.
std::string describeParseError(const ParseResult& result, uint32_t maxPicture);
