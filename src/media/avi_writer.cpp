// The AVI movie writer.
//
// File layout: a 348-byte header (RIFF, the "hdrl" list with the video stream list and, with
// sound, the audio stream list, a JUNK chunk filling up to 336, and the "movi" list header), then
// the chunks in the order written ("00dc" pictures, "01wb" sound, each padded to even length),
// then the "idx1" index. The header is written over its placeholder when the movie is closed.
//
// Failure policy: a chunk is written completely or not at all as far as the movie is concerned.
// Its index slot is secured before writing and its entry added only after the write succeeded;
// after a failed write the file position goes back to `filePos`, the end of the last whole
// chunk, so the next chunk or the index overwrites the remains.
//
// Every entry point holds `fileLock`: the paused recording still writes sound on the capture
// thread while the window thread may close the movie, so file and fields are never touched by
// both at once. Uncontended, it costs a few nanoseconds per call.
#include "media/avi_writer.h"

#include <bit>
#include <cstring>
#include <mutex>
#include <new>

static_assert(std::endian::native == std::endian::little,
              "index blocks are written to the file as they lie in memory");

namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kVideoChunk = fourcc("00dc");
constexpr uint32_t kSoundChunk = fourcc("01wb");
constexpr uint32_t kChunkHeaderBytes = 8;       // FOURCC + exact size
constexpr uint32_t kSizeLimitSlack = 32;        // room kept beside the chunk and the index
constexpr uint32_t kRepeatEstimateBytes = 16;   // one index entry
constexpr uint32_t kChunkEstimateBytes = 24;    // chunk header + index entry
constexpr uint32_t kMaxSoundChunksPerTick = 3;  // lets the sound catch up after a slow tick

constexpr uint32_t even(uint32_t size) {
    return size + (size & 1);
}

void put16(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

void put32(uint8_t* p, uint32_t value) {
    put16(p, value);
    put16(p + 2, value >> 16);
}

// The movie file's header from the writer's fields; every offset is from the start of the file.
void buildHeader(const AviWriter& w, uint32_t moviEnd, uint32_t fileEnd, uint32_t flags,
                 uint8_t* h) {
    std::memset(h, 0, kAviHeaderBytes);
    const bool withSound = w.channels != 0 && w.soundBytes != 0;
    put32(h + 0, fourcc("RIFF"));
    put32(h + 4, fileEnd - 8);
    put32(h + 8, fourcc("AVI "));
    put32(h + 12, fourcc("LIST"));
    put32(h + 16, withSound ? 292 : 192);  // the "hdrl" list runs to 212 or 312
    put32(h + 20, fourcc("hdrl"));

    put32(h + 24, fourcc("avih"));  // main header
    put32(h + 28, 56);
    put32(h + 32, w.microsPerFrame);
    put32(h + 36, 10000000);  // maximum bytes per second
    put32(h + 40, 0);         // padding granularity
    put32(h + 44, flags);
    put32(h + 48, w.videoEntries);  // total frames
    put32(h + 52, 0);               // initial frames
    put32(h + 56, w.soundBytes != 0 ? 2 : 1);
    put32(h + 60, 0);  // suggested buffer size
    put32(h + 64, w.width);
    put32(h + 68, w.height);
    // 72..87: reserved, zero

    put32(h + 88, fourcc("LIST"));  // video stream list
    put32(h + 92, 116);
    put32(h + 96, fourcc("strl"));
    put32(h + 100, fourcc("strh"));
    put32(h + 104, 56);
    put32(h + 108, fourcc("vids"));
    put32(h + 112, w.handler);
    // 116 flags, 120 priority, 122 language, 124 initial frames: zero
    put32(h + 128, w.microsPerFrame);  // scale: a tick is scale / rate seconds
    put32(h + 132, 1000000);           // rate
    put32(h + 136, 0);                 // start
    put32(h + 140, w.videoEntries);    // length in ticks
    put32(h + 144, 0);                 // suggested buffer size
    put32(h + 148, 0xFFFFFFFF);        // quality: default
    put32(h + 152, 0);                 // sample size: varies
    // 156..163: frame rectangle, zero
    put32(h + 164, fourcc("strf"));
    put32(h + 168, 40);
    put32(h + 172, 40);  // BITMAPINFOHEADER size
    put32(h + 176, w.width);
    put32(h + 180, w.height);
    put16(h + 184, 1);   // planes
    put16(h + 186, 24);  // bits per pixel
    put32(h + 188, fourcc("MJPG"));
    put32(h + 192, w.width * w.height);
    // 196..211: resolutions and colour counts, zero

    uint32_t junk = 212;
    if (withSound) {
        const uint32_t bytesPerSample = (w.bitsPerSample + 7u) / 8u * w.channels;
        const uint32_t blockAlign = bytesPerSample != 0 ? bytesPerSample : 1;
        put32(h + 212, fourcc("LIST"));  // sound stream list
        put32(h + 216, 92);
        put32(h + 220, fourcc("strl"));
        put32(h + 224, fourcc("strh"));
        put32(h + 228, 56);
        put32(h + 232, fourcc("auds"));
        // 236 handler, 240 flags, 244 priority, 246 language, 248 initial frames: zero
        put32(h + 252, blockAlign);                    // scale
        put32(h + 256, blockAlign * w.samplesPerSec);  // rate: bytes per second
        put32(h + 260, 0);                             // start
        put32(h + 264, uint32_t(int32_t(w.soundBytes) / int32_t(blockAlign)));  // length
        put32(h + 268, 0);                                                      // buffer size
        put32(h + 272, 0xFFFFFFFF);                                             // quality
        put32(h + 276, blockAlign);                                             // sample size
        // 280..287: frame rectangle, zero
        put32(h + 288, fourcc("strf"));
        put32(h + 292, 16);
        put16(h + 296, w.formatTag);
        put16(h + 298, w.channels);
        put32(h + 300, w.samplesPerSec);
        put32(h + 304, blockAlign * w.samplesPerSec);
        put16(h + 308, blockAlign);
        put16(h + 310, w.bitsPerSample);
        junk = 312;
    }
    put32(h + junk, fourcc("JUNK"));
    put32(h + junk + 4, 336 - junk - 8);  // zero bytes up to the "movi" list
    put32(h + 336, fourcc("LIST"));
    put32(h + 340, moviEnd - kAviMoviOffset);
    put32(h + kAviMoviOffset, fourcc("movi"));
}

bool write(AviWriter& w, const void* data, uint32_t size) {
    return w.file.ops->write(w.file.context, data, size) != 0;
}

// Puts the file position back at the end of the last whole chunk after a failed write.
void seekBack(AviWriter& w) {
    w.positionLost = w.file.ops->seek(w.file.context, w.filePos) ? 0 : 1;
}

// The size limit, checked before a chunk of `size` data bytes is written.
bool withinSizeLimit(const AviWriter& w, uint32_t size) {
    return uint64_t{w.indexBytes} + w.filePos + size + kSizeLimitSlack <= kAviSizeLimit;
}

// Makes sure the next index entry has a slot, taking the next block of the chain or allocating
// it when the current block is full. False only when no block can be allocated.
bool reserveIndexEntry(AviWriter& w) {
    if (w.entriesInBlock < kIndexEntriesPerBlock) return true;
    IndexBlock* next = w.currentIndexBlock->next;
    if (next == nullptr) {
        next = new (std::nothrow) IndexBlock;
        if (next == nullptr) return false;
        next->next = nullptr;
        w.currentIndexBlock->next = next;
    }
    w.currentIndexBlock = next;
    w.entriesInBlock = 0;
    return true;
}

// Adds an entry into the slot secured by reserveIndexEntry.
void addIndexEntry(AviWriter& w, uint32_t id, uint32_t flags, uint32_t filePosition,
                   uint32_t size) {
    w.currentIndexBlock->entries[w.entriesInBlock] =
        IndexEntry{id, flags, filePosition - kAviMoviOffset, even(size)};
    w.entriesInBlock += 1;
    w.indexBytes += sizeof(IndexEntry);
}

// Writes one chunk at `filePos`: FOURCC, exact size, data, a zero pad byte when the size is odd.
bool writeChunk(AviWriter& w, uint32_t id, const uint8_t* data, uint32_t size) {
    if (w.positionLost) {
        seekBack(w);
        if (w.positionLost) return false;
    }
    uint8_t header[kChunkHeaderBytes];
    put32(header, id);
    put32(header + 4, size);
    static constexpr uint8_t kPad = 0;
    if (!write(w, header, sizeof header) || !write(w, data, size) ||
        ((size & 1) && !write(w, &kPad, 1))) {
        seekBack(w);
        return false;
    }
    w.filePos += kChunkHeaderBytes + even(size);
    return true;
}

// Stores the picture as a new "00dc" chunk with its index entry.
bool storePicture(AviWriter& w, const uint8_t* jpeg, uint32_t jpegSize) {
    if (!withinSizeLimit(w, jpegSize) || !reserveIndexEntry(w)) return false;
    const uint32_t position = w.filePos;
    if (!writeChunk(w, kVideoChunk, jpeg, jpegSize)) return false;
    addIndexEntry(w, kVideoChunk, kAviKeyFrame, position, jpegSize);
    w.sizeEstimate += jpegSize + kChunkEstimateBytes;
    w.lastPicturePos = position;
    w.lastPictureSize = jpegSize;
    w.videoEntries += 1;
    w.lastStoredChecksum.store(w.currentChecksum.load(std::memory_order_relaxed),
                               std::memory_order_relaxed);
    return true;
}

// Refers to the last stored picture once more: an index entry, no file I/O. Nothing happens
// while no picture has been stored in this movie.
bool repeatPicture(AviWriter& w) {
    if (w.lastPicturePos == 0) return true;
    if (!reserveIndexEntry(w)) return false;
    addIndexEntry(w, kVideoChunk, kAviKeyFrame, w.lastPicturePos, w.lastPictureSize);
    w.sizeEstimate += kRepeatEstimateBytes;
    w.videoEntries += 1;
    w.hasRepeats = 1;
    return true;
}

// Takes the oldest filled sound buffer, or null.
const uint8_t* takeSound(AviWriter& w, uint32_t* bytes) {
    *bytes = 0;
    return w.sound.take != nullptr ? w.sound.take(w.sound.context, bytes) : nullptr;
}

// Up to three waiting sound buffers while fewer sound chunks than ticks were written.
bool writeSound(AviWriter& w) {
    if (!w.soundOn.load(std::memory_order_relaxed)) return true;
    if (w.file.ops == nullptr) return false;
    for (uint32_t i = 0; i < kMaxSoundChunksPerTick &&
                         w.soundChunks < w.ticksSinceResume.load(std::memory_order_relaxed);
         ++i) {
        uint32_t bytes = 0;
        const uint8_t* samples = takeSound(w, &bytes);
        if (samples == nullptr || bytes == 0) return true;
        if (!withinSizeLimit(w, bytes) || !reserveIndexEntry(w)) return false;
        const uint32_t position = w.filePos;
        if (!writeChunk(w, kSoundChunk, samples, bytes)) return false;
        addIndexEntry(w, kSoundChunk, 0, position, bytes);
        w.sizeEstimate += bytes + kChunkEstimateBytes;
        w.soundBytes += bytes;
        w.soundChunks += 1;
    }
    return true;
}

// One tick of video: the picture at hand the first time, a repeat afterwards; then its sound.
bool writeTick(AviWriter& w, const uint8_t* jpeg, uint32_t jpegSize) {
    if (w.pictureStored == 0) {
        // A picture unchanged since the last one stored is repeated, except that a movie's first
        // picture is always stored: otherwise a screen that matches the previous movie's last
        // picture would leave this movie without any picture at all. An empty picture (nothing
        // was encoded) is never stored.
        const bool store = w.pictureChanged != 0 || w.lastPicturePos == 0;
        if (store && jpeg != nullptr && jpegSize != 0) {
            if (!storePicture(w, jpeg, jpegSize)) return false;
        } else if (!repeatPicture(w)) {
            return false;
        }
        w.picturesTaken.fetch_add(1, std::memory_order_relaxed);
        w.pictureStored = 1;
    } else if (!repeatPicture(w)) {
        return false;
    }
    w.ticksSinceResume.fetch_add(1, std::memory_order_relaxed);
    w.ticksTotal.fetch_add(1, std::memory_order_relaxed);
    return writeSound(w);
}

bool openSink(AviWriter& w, AviSink sink, uint32_t width, uint32_t height, bool withSound) {
    if (w.file.ops != nullptr) {  // a movie is open: leave it alone
        sink.ops->close(sink.context);
        return false;
    }
    if (w.frameMs.load(std::memory_order_relaxed) == 0) {
        w.soundOn.store(0, std::memory_order_relaxed);
        sink.ops->close(sink.context);
        return false;
    }
    if (w.firstIndexBlock == nullptr) {  // the allocation at start-up failed; try once more
        w.firstIndexBlock = new (std::nothrow) IndexBlock;
        if (w.firstIndexBlock == nullptr) {
            sink.ops->close(sink.context);
            return false;
        }
        w.firstIndexBlock->next = nullptr;
    }
    w.soundOn.store(withSound ? 1 : 0, std::memory_order_relaxed);
    w.width = w.height = w.microsPerFrame = w.handler = w.videoEntries = 0;
    w.formatTag = w.channels = w.bitsPerSample = 0;
    w.samplesPerSec = w.soundBytes = w.filePos = 0;
    w.lastPicturePos = w.lastPictureSize = w.hasRepeats = w.sizeEstimate = 0;

    static constexpr uint8_t kPlaceholder[kAviHeaderBytes] = {};
    if (sink.ops->write(sink.context, kPlaceholder, kAviHeaderBytes) == 0) {
        sink.ops->close(sink.context);
        w.soundOn.store(0, std::memory_order_relaxed);
        return false;
    }
    w.file = sink;
    w.positionLost = 0;
    w.filePos = kAviHeaderBytes;
    w.sizeEstimate = kAviHeaderBytes;
    w.currentIndexBlock = w.firstIndexBlock;
    w.entriesInBlock = 0;
    w.indexBytes = 0;

    w.width = width;
    w.height = height;
    w.microsPerFrame = w.frameMs.load(std::memory_order_relaxed) * 1000;
    w.handler = fourcc("mjpg");
    w.ticksTotal.store(0, std::memory_order_relaxed);
    w.ticksSinceResume.store(0, std::memory_order_relaxed);

    if (w.soundOn.load(std::memory_order_relaxed) &&
        (w.sound.start == nullptr || w.sound.start(w.sound.context) == 0)) {
        w.soundOn.store(0, std::memory_order_relaxed);
    }
    if (w.soundOn.load(std::memory_order_relaxed)) {
        w.formatTag = 1;  // PCM
        w.channels = 1;
        w.samplesPerSec = 8000;
        w.bitsPerSample = 16;
    }
    return true;  // also without sound: the movie then has no sound stream
}

}  // namespace

AviWriter::AviWriter() {
    firstIndexBlock = new (std::nothrow) IndexBlock;
    if (firstIndexBlock != nullptr) firstIndexBlock->next = nullptr;
    currentIndexBlock = firstIndexBlock;
}

AviWriter::~AviWriter() {
    if (file.ops != nullptr) file.ops->close(file.context);
    while (firstIndexBlock != nullptr) {
        IndexBlock* next = firstIndexBlock->next;
        delete firstIndexBlock;
        firstIndexBlock = next;
    }
}

bool aviOpen(AviWriter& writer, const char* path, uint32_t width, uint32_t height, bool withSound) {
    std::lock_guard<std::mutex> lock(writer.fileLock);
    if (writer.file.ops != nullptr) return false;
    if (writer.frameMs.load(std::memory_order_relaxed) == 0) {
        writer.soundOn.store(0, std::memory_order_relaxed);
        return false;
    }
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    return openSink(writer, aviFileSink(file), width, height, withSound);
}

bool aviOpen(AviWriter& writer, AviSink sink, uint32_t width, uint32_t height, bool withSound) {
    std::lock_guard<std::mutex> lock(writer.fileLock);
    return openSink(writer, sink, width, height, withSound);
}

bool aviWriteFrame(AviWriter& w, const uint8_t* jpeg, uint32_t jpegSize, uint32_t nowMs,
                   uint32_t catchUp) {
    std::lock_guard<std::mutex> lock(w.fileLock);
    const uint32_t frameMs = w.frameMs.load(std::memory_order_relaxed);
    if (w.file.ops == nullptr || frameMs == 0) return false;
    const uint32_t ticksSinceResume = w.ticksSinceResume.load(std::memory_order_relaxed);
    if (ticksSinceResume == 0 && catchUp != 0) {
        // The first call after opening or resuming only starts the clock.
        w.clockMs = nowMs;
        w.pictureStored = 0;
        w.soundChunks = 0;
        w.picturesTaken.store(0, std::memory_order_relaxed);
        return true;
    }
    // The tick counter wraps, so the difference is taken unsigned; a tick earlier than the clock
    // (which a monotonic counter never gives) counts as no time instead of 49 days of repeats.
    uint32_t elapsed = nowMs - w.clockMs;
    if (elapsed > 0x7FFFFFFFu) elapsed = 0;
    // Catching up counts only three quarters of the remainder kept from the last new picture, so
    // the clock never moves past nowMs.
    const uint32_t due = catchUp != 0
                             ? uint32_t((3 * uint64_t{w.remainderMs} + elapsed) / 4 / frameMs)
                             : elapsed / frameMs;
    const uint32_t ticks = (due == 0 && ticksSinceResume == 0) ? 1 : due;
    for (uint32_t i = 0; i < ticks; ++i) {
        if (!writeTick(w, jpeg, jpegSize)) return false;
    }
    w.clockMs += due * frameMs;
    if (catchUp != 0) {
        w.pictureStored = 0;  // the next call brings a new picture
    } else {
        w.remainderMs = elapsed - due * frameMs;
    }
    return true;
}

bool aviWriteSound(AviWriter& w) {
    std::lock_guard<std::mutex> lock(w.fileLock);
    return writeSound(w);
}

void aviDrainPausedSound(AviWriter& w) {
    std::lock_guard<std::mutex> lock(w.fileLock);
    if (!w.soundOn.load(std::memory_order_relaxed)) return;
    if (!writeSound(w)) return;
    if (w.soundChunks < w.ticksSinceResume.load(std::memory_order_relaxed)) return;
    uint32_t bytes = 0;
    while (takeSound(w, &bytes) != nullptr) {
    }
}

bool aviClose(AviWriter& w) {
    std::lock_guard<std::mutex> lock(w.fileLock);
    if (w.file.ops == nullptr) return true;
    const uint32_t moviEnd = w.filePos;
    uint32_t flags = w.hasRepeats ? kAviFlagsRepeats : kAviFlagsIndexed;

    // The index: "idx1", its size, every full block of the chain up to the current one, then the
    // used part of the current block.
    bool indexWritten = true;
    if (w.positionLost) {
        seekBack(w);
        indexWritten = w.positionLost == 0;
    }
    if (indexWritten) {
        uint8_t header[kChunkHeaderBytes];
        put32(header, fourcc("idx1"));
        put32(header + 4, w.indexBytes);
        indexWritten = write(w, header, sizeof header);
        for (IndexBlock* b = w.firstIndexBlock; indexWritten && b != w.currentIndexBlock;
             b = b->next) {
            indexWritten = write(w, b->entries, sizeof b->entries);
        }
        if (indexWritten) {
            indexWritten = write(w, w.currentIndexBlock->entries,
                                 w.entriesInBlock * uint32_t{sizeof(IndexEntry)});
        }
        if (indexWritten) {
            w.filePos += kChunkHeaderBytes + w.indexBytes;
        } else {
            seekBack(w);
        }
    }
    if (!indexWritten) flags = kAviFlagsNoIndex;

    // The header over its placeholder; when it cannot be written the file is closed as it is.
    uint8_t header[kAviHeaderBytes];
    buildHeader(w, moviEnd, w.filePos, flags, header);
    if (w.file.ops->seek(w.file.context, 0)) write(w, header, kAviHeaderBytes);

    w.file.ops->close(w.file.context);
    w.file = AviSink{};
    if (w.soundOn.load(std::memory_order_relaxed)) {
        if (w.sound.stop != nullptr) w.sound.stop(w.sound.context);
        w.soundOn.store(0, std::memory_order_relaxed);
    }
    return true;
}

uint32_t pictureChecksum(const uint8_t* pixels, uint32_t bytes) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
        uint32_t word;
        std::memcpy(&word, pixels + i, 4);
        sum ^= word;
    }
    return sum;
}
