// The frame consumer: what becomes of each camera frame once the preview has drawn it, decided
// by the activity the preview saw for this frame and the capture mode latched with it. A paused
// recording only keeps its sound level with its ticks; an active capture takes a photo or an
// interval shot, adds a movie frame, or feeds the webcam.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "core/app_state.h"
#include "core/frame.h"
#include "core/preview_state.h"
#include "media/avi_writer.h"
#include "media/frame_average.h"
#include "media/record_frame.h"
#include "media/storage.h"
#include "settings/camera_controller.h"
#include "settings/settings_table.h"

namespace {

constexpr int32_t kMaxAverageLog2 = 8;  // 256 frames

// Guards gApp.averageBuffer and averageBufferSize: the window thread allocates and frees the
// buffer, the capture thread adds frames into it.
std::mutex averageLock;

uint32_t frameBytes() {
    return gFrame.frameWidth * gFrame.frameHeight * bytesPerPixel(gFrame.frameFormat);
}

// One frame of an interval shot. Without averaging it is saved; with averaging it is added into
// the sums, and the shot's last frame is turned into the average and saved. False when a save
// failed.
bool intervalFrame(uint8_t* pixels) {
    std::unique_lock<std::mutex> lock(averageLock);
    ImageBuffer& photo = gApp.photoImage;
    if (!gApp.averageBuffer) {
        lock.unlock();
        return savePhoto(photo.pixels, pixels) != 0;
    }
    const uint32_t bytes =
        std::min({gApp.averageBufferSize, photo.header.biSizeImage, frameBytes()});
    // A shot's sums start at zero. Cleared here, on the thread that also borrows the photo buffer
    // as the preview's scratch, never from the interval thread while a frame is drawn.
    if (intervalFirstFrame.load(std::memory_order_acquire)) {
        std::memset(gApp.averageBuffer, 0, bytes);
        std::memset(photo.pixels, 0, bytes);
    }
    accumulateFrame(photo.pixels, gApp.averageBuffer, pixels, bytes);
    if (!intervalLastFrame.load(std::memory_order_acquire)) return true;
    const int32_t log2Frames =
        std::clamp(effectiveIndex(setting(kSlotAverage)), 0, kMaxAverageLog2);
    finishAverage(pixels, photo.pixels, gApp.averageBuffer, bytes,
                  static_cast<uint32_t>(log2Frames));
    return savePhoto(photo.pixels, pixels) != 0;
}

// A photo, or a frame of an interval shot, when a shot was requested. snapshotArmed left at 1
// tells the waiting thread that no picture was saved; frameEvent wakes it in every case.
void stillPicture(uint8_t* pixels, uint32_t mode) {
    CameraController& c = gController;
    if (c.snapshotArmed.load() == 0) return;
    if (mode == kModePhoto) {
        if (savePhoto(gApp.photoImage.pixels, pixels)) c.snapshotArmed.store(0);
    } else {
        c.snapshotArmed.store(0);
        if (!intervalFrame(pixels)) c.snapshotArmed.store(1);
    }
    SetEvent(c.frameEvent);
}

}  // namespace

std::atomic<void (*)(uint8_t* pixels)> webcamFrameBranch{nullptr};

bool allocateAverageBuffer(uint32_t bytes) {
    const ImageBuffer& photo = gApp.photoImage;
    if (bytes == 0 || !photo.pixels || bytes > photo.header.biSizeImage) return false;
    auto* buffer = new (std::nothrow) uint8_t[bytes];
    if (!buffer) return false;
    std::lock_guard<std::mutex> lock(averageLock);
    delete[] gApp.averageBuffer;
    gApp.averageBuffer = buffer;
    gApp.averageBufferSize = bytes;
    return true;
}

void releaseAverageBuffer() {
    std::lock_guard<std::mutex> lock(averageLock);
    delete[] gApp.averageBuffer;
    gApp.averageBuffer = nullptr;
    gApp.averageBufferSize = 0;
}

void abandonAverageBuffer() {
    std::lock_guard<std::mutex> lock(averageLock);
    gApp.averageBuffer = nullptr;
    gApp.averageBufferSize = 0;
}

int consumeFrame(uint8_t* pixels) {
    const uint32_t seen = seenActivity.load(std::memory_order_relaxed);
    AviWriter& w = gAviWriter;
    if (seen == Choosing) {
        aviDrainPausedSound(w);
        return 0;
    }
    if (seen != Active) return 0;

    // An unchanged screen (screen-capture edition) is neither stored nor sent again.
    w.pictureChanged = 1;
    uint32_t checksum = 0;
    if (gApp.screenCaptureEdition) {
        checksum = pictureChecksum(gFrame.framePixels ? gFrame.framePixels : pixels, frameBytes());
        if (checksum == w.lastStoredChecksum.load(std::memory_order_relaxed)) w.pictureChanged = 0;
    }
    const uint32_t mode = frameCaptureMode.load(std::memory_order_relaxed);
    switch (mode) {
        case kModeWebcam:
            w.currentChecksum.store(checksum, std::memory_order_relaxed);
            if (auto* branch = webcamFrameBranch.load(std::memory_order_relaxed)) branch(pixels);
            break;
        case kModeVideo:
            recordFrame(pixels, checksum);
            break;
        case kModePhoto:
        case kModeInterval:
            stillPicture(pixels, mode);
            break;
        default:
            break;
    }
    return 0;
}
