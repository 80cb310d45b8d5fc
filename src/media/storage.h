// Where photos and movies go and under which names, photo files (JPEG or 24-bit BMP), and the
// frame consumer that the preview hands every frame to.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

constexpr uint32_t kMaxStoragePlaces = 10;
constexpr uint32_t kStoragePathUnits = 128;  // a 256-byte UTF-16 buffer
constexpr uint32_t kStorageLabelBytes = 128;

// One place photos and movies can go: main memory or a storage card.
struct StoragePlace {
    WCHAR path[kStoragePathUnits];   // base folder: "\My Documents" or "\<card>\My Documents"
    char label[kStorageLabelBytes];  // shown in the "Save To" lists
};

// Entry 0 is always main memory. The value of a "Save To" setting is an index into it. Built on
// the window thread at start-up, before any capture thread runs; read-only afterwards.
struct StoragePlaceTable {
    StoragePlace entries[kMaxStoragePlaces];
    uint32_t count = 0;
};
extern StoragePlaceTable storagePlaces;

// A movie starts only with at least this much free at its destination, in bytes.
constexpr uint32_t kMinMovieFreeBytes = 3000000;
// queryFreeSpace reports at most this, and this when the query fails.
constexpr uint32_t kFreeSpaceCap = 0x80000000;

// Lists main memory and the storage cards and hands them to the "Save To" lists. Returns the
// number of places.
uint32_t buildStoragePlaces();
// Writes the full name of the next photo or movie into `path` (MAX_PATH units) and creates its
// folders: "<place>\My Pictures\YMMDD-hhmmss[-NN].jpg|bmp" or "<place>\My Videos\...avi", the
// kind following the capture mode.
void makeFileName(WCHAR* path);
// Free bytes at the base folder of the place chosen for the current mode, capped.
uint32_t queryFreeSpace();

// Plays the shutter sound, names the file, encodes `frame` into `buffer` and writes it (JPEG, or
// BMP from the raw planes). 1 when the file was written whole, 0 otherwise.
uint32_t savePhoto(uint8_t* buffer, uint8_t* frame);
// Writes the I420 picture at `planes` (width x height luma, then the two quarter-size chroma
// planes) as a bottom-up 24-bit BMP. 1 on success.
uint32_t writeBmp(const WCHAR* path, const uint8_t* planes, uint32_t width, uint32_t height);

// Whether the frame record's picture holds every source pixel the encoder setup reads:
// (width x scaleX) by (height x scaleY). A frame of another size (the geometry changed while it
// was on its way) is not encoded.
struct EncoderSetup;
bool frameFitsEncoder(const EncoderSetup& setup);

// Run on the capture thread after the preview has drawn the frame: by the activity the preview
// saw and the capture mode of the frame, takes a photo or interval shot, adds a movie frame, or
// feeds the webcam. Returns 0.
int consumeFrame(uint8_t* pixels);
// The frame consumer's branch for capture mode 3 while a webcam run is active: the webcam link's,
// which lies above the frame consumer and installs it when it is first started. Null: frames of
// that mode go nowhere.
extern std::atomic<void (*)(uint8_t* pixels)> webcamFrameBranch;

// The averaging buffer of an interval run (gApp.averageBuffer, the high bytes of the 16-bit
// sums). Allocated and released on the window thread, used by the frame consumer on the capture
// thread: both sides hold the consumer's lock, so a frame in flight never sees it freed.
// allocateAverageBuffer fails (false) when the memory cannot be had or the sums' low bytes would
// not fit the photo buffer.
bool allocateAverageBuffer(uint32_t bytes);
void releaseAverageBuffer();
// Lets go of the buffer without freeing it: a thread that could not be stopped may still write
// to it.
void abandonAverageBuffer();
