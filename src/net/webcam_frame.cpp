// The webcam branch of the frame consumer, on the capture thread: the stall rule, then, unless
// the sender holds the message, the frame encoded into the photo buffer behind its header and
// handed to the sender. The capture thread never waits for the network.
//
// Message layout in the photo buffer (little-endian words):
//   0   20     zeros
//   20  4      0x5B3E9A17
//   24  4      0xC6D20F84
//   28  4      L, the JPEG picture's length in bytes
//   32  4      the frame's tick, ms
//   36  4      width (low 16 bits) and height (high 16 bits) of the picture as stored
//   40  L - 8  the picture from its ninth byte on
// The picture is encoded at offset 32; the tick and size words overwrite its first 8 bytes
// (SOI, APP0 marker and length, "JF"), which the receiver puts back. A message is L + 32 bytes.
#include <cstring>

#include "core/app_state.h"
#include "core/frame.h"
#include "core/preview_state.h"
#include "jpeg/jpeg_encoder.h"
#include "media/avi_writer.h"
#include "media/storage.h"
#include "net/webcam.h"

uint32_t webcamPictureSize = 0;

namespace {

// A connection on which nothing was sent for longer than this is closed (ms). Compared as a
// signed difference, so that a chunk sent after the frame's tick was taken is not a stall.
constexpr int32_t kStallMs = 32768;
constexpr uint32_t kZeroedBytes = 20;
// The preview's general path borrows the photo buffer from a quarter of its size on as
// scratch, also while a message is being sent: a message must end before it.
constexpr uint32_t kPreviewScratchStart = 4;  // divisor of the buffer's size

static_assert(kWebcamPictureOffset == kWebcamTickOffset, "the tick covers the picture's start");
static_assert(kWebcamSizeOffset + 4 == kWebcamPictureOffset + 8, "8 picture bytes lie beneath");

void put32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

// Encodes the frame at the picture's place; the picture's length, or 0 when there is nothing
// that can be sent (no encoder, a frame the setup does not describe, a picture that would reach
// the preview's scratch).
uint32_t encodePicture(uint8_t* pixels) {
    const ImageBuffer& photo = gApp.photoImage;
    EncoderSetup& setup = gEncoderSetup;
    const uint64_t frameBytes =
        uint64_t{gFrame.frameWidth} * gFrame.frameHeight * bytesPerPixel(gFrame.frameFormat);
    if (!photo.pixels || setup.quality == 0 || !frameFitsEncoder(setup) ||
        frameBytes + kWebcamPictureOffset > photo.header.biSizeImage)
        return 0;
    const uint32_t length = encodeFrame(setup, photo.pixels + kWebcamPictureOffset, pixels, 0);
    if (uint64_t{length} + kWebcamPictureOffset > photo.header.biSizeImage / kPreviewScratchStart)
        return 0;
    return length;
}

}  // namespace

void webcamConsumeFrame(uint8_t* pixels) {
    WebcamLink& link = gWebcamLink;
    const uint32_t tick = frameStartTick.load(std::memory_order_relaxed);

    // Stall rule: a connection that has not taken a chunk for too long is closed; the sender
    // connects again.
    if (link.socket.load() != INVALID_SOCKET) {
        const uint32_t last = link.lastSendTick.load(std::memory_order_relaxed);
        if (last != 0 && static_cast<int32_t>(tick - last) > kStallMs) {
            link.connectAttempts.store(0);
            link.lastSendTick.store(0, std::memory_order_relaxed);
            revokeWebcamSocket(link, false);
        }
    }
    if (link.socket.load() == INVALID_SOCKET) gApp.captureStartTick.store(tick);

    // Dropped while the sender connects for the first time or sends.
    uint8_t free = WebcamFree;
    if (!link.busy.compare_exchange_strong(free, WebcamFilling, std::memory_order_acquire)) return;

    AviWriter& w = gAviWriter;
    // An unchanged screen (screen-capture edition) is sent again as it is, without encoding.
    if (w.pictureChanged || webcamPictureSize == 0) webcamPictureSize = encodePicture(pixels);
    if (webcamPictureSize == 0) {
        link.busy.store(WebcamFree, std::memory_order_release);
        return;
    }

    const EncoderSetup& setup = gEncoderSetup;
    const bool turned = setup.rotation == 1 || setup.rotation == 3;
    const uint32_t width = turned ? setup.height : setup.width;
    const uint32_t height = turned ? setup.width : setup.height;
    uint8_t* message = gApp.photoImage.pixels;
    std::memset(message, 0, kZeroedBytes);
    put32(message + kWebcamWordAOffset, kWebcamHeaderWordA);
    put32(message + kWebcamWordBOffset, kWebcamHeaderWordB);
    put32(message + kWebcamLengthOffset, webcamPictureSize);
    put32(message + kWebcamTickOffset, tick);
    put32(message + kWebcamSizeOffset, (width & 0xFFFF) | height << 16);

    link.sendData.store(message, std::memory_order_relaxed);
    link.sendLength.store(webcamPictureSize + kWebcamPictureOffset, std::memory_order_relaxed);
    link.sendChecksum.store(w.currentChecksum.load(std::memory_order_relaxed),
                            std::memory_order_relaxed);
    // Releasing the message publishes it; the sender's compare-and-swap takes it.
    link.busy.store(WebcamFree, std::memory_order_release);
    if (link.stopRequested.load(std::memory_order_acquire)) return;
    if (HANDLE ready = link.frameReady.load()) SetEvent(ready);
    Sleep(1);
}
