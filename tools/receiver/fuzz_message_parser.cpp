// libFuzzer harness for the webcam message parser: splits the input into messages as a
// connection would and checks what the parser promises.
#include <cstdlib>

#include "message_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small limit lets the fuzzer reach whole messages and the length check.
    constexpr uint32_t kLimit = 4096;
    size_t at = 0;
    while (at <= size) {
        const ParseResult r = parseMessage(data + at, size - at, kLimit);
        if (r.status == ParseStatus::NeedMore) {
            if (r.needed <= size - at || r.needed > kLimit + kMessageHeaderBytes) std::abort();
            break;
        }
        if (r.status == ParseStatus::Bad) {
            if (describeParseError(r, kLimit).empty()) std::abort();
            break;
        }
        if (r.consumed < kMessageHeaderBytes + kReplacedPictureBytes || r.consumed > size - at ||
            r.consumed != size_t{r.pictureBytes} + kMessageHeaderBytes) {
            std::abort();
        }
        const std::vector<uint8_t> picture = restorePicture(r);
        if (picture.size() != r.pictureBytes || picture[0] != 0xFF || picture[1] != 0xD8) {
            std::abort();
        }
        at += r.consumed;
    }
    return 0;
}
