// The AVI movie writer.
//
// File layout: a 348-byte header (RIFF, the "hdrl" list with the video stream list and, with
// sound, the audio stream list, a JUNK chunk filling up to 336, and the "movi" list header), then
// the chunks in the order written ("00dc" pictures, "01wb" sound, each padded to even length),
// then the "idx1" index. The header is written at open with what is known then, refreshed at
// least once a second (sizes, frame count, stream lengths, no index flag) and written for the
// last time at close, when the index follows the chunks.
//
// The journal: its header at open, then every index entry as soon as it is made (a chunk's entry
// right after the chunk), so a call that succeeded has its whole work on the disk: 16 bytes per
// repeat, the only file I/O a repeat costs.
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
#include <string>

static_assert(std::endian::native == std::endian::little,
              "index blocks are written to the file as they lie in memory");

namespace {

constexpr auto fourcc = aviFourcc;
constexpr uint32_t kVideoChunk = kAviVideoChunk;
constexpr uint32_t kSoundChunk = kAviSoundChunk;
constexpr uint32_t kChunkHeaderBytes = kAviChunkHeaderBytes;
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

// Lays out RIFF chunks in a byte buffer the way a reader walks them: a chunk is opened with its
// FOURCC and a size slot, and closing it fills the slot with the bytes written since, so no size
// is ever typed by hand. Every chunk of the header has an even size, so there is no pad.
struct ChunkBuilder {
    uint8_t* bytes;
    uint32_t at = 0;

    void u16(uint32_t value) {
        put16(bytes + at, value);
        at += 2;
    }
    void u32(uint32_t value) {
        put32(bytes + at, value);
        at += 4;
    }
    void zeros(uint32_t count) {
        std::memset(bytes + at, 0, count);
        at += count;
    }
    // Returns the position of the size slot, for close.
    uint32_t open(uint32_t id) {
        u32(id);
        u32(0);
        return at - 4;
    }
    uint32_t openList(uint32_t type) {
        const uint32_t slot = open(fourcc("LIST"));
        u32(type);
        return slot;
    }
    void close(uint32_t slot) { put32(bytes + slot, at - slot - 4); }
};

constexpr uint32_t kMaxBytesPerSecond = 10000000;
constexpr uint32_t kMicrosPerSecond = 1000000;
constexpr uint32_t kDefaultQuality = 0xFFFFFFFF;
constexpr uint32_t kBitmapInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr uint32_t kBitsPerPixel = 24;
constexpr uint16_t kFormatPcm = 1;  // WAVE_FORMAT_PCM

}  // namespace

void aviBuildHeader(const AviMovieFacts& m, uint32_t moviEnd, uint32_t fileEnd, uint32_t flags,
                    uint8_t* header) {
    const bool withSound = m.channels != 0 && m.soundBytes != 0;
    ChunkBuilder b{header};
    b.open(fourcc("RIFF"));  // its size is the file's, set below
    b.u32(fourcc("AVI "));
    const uint32_t hdrl = b.openList(fourcc("hdrl"));

    const uint32_t avih = b.open(fourcc("avih"));  // main header
    b.u32(m.microsPerFrame);
    b.u32(kMaxBytesPerSecond);
    b.u32(0);  // padding granularity
    b.u32(flags);
    b.u32(m.videoEntries);             // total frames
    b.u32(0);                          // initial frames
    b.u32(m.soundBytes != 0 ? 2 : 1);  // streams
    b.u32(0);                          // suggested buffer size
    b.u32(m.width);
    b.u32(m.height);
    b.zeros(16);  // reserved
    b.close(avih);

    const uint32_t video = b.openList(fourcc("strl"));
    const uint32_t vstrh = b.open(fourcc("strh"));
    b.u32(fourcc("vids"));
    b.u32(m.handler);
    b.u32(0);                 // flags
    b.u16(0);                 // priority
    b.u16(0);                 // language
    b.u32(0);                 // initial frames
    b.u32(m.microsPerFrame);  // scale: a tick is scale / rate seconds
    b.u32(kMicrosPerSecond);  // rate
    b.u32(0);                 // start
    b.u32(m.videoEntries);    // length in ticks
    b.u32(0);                 // suggested buffer size
    b.u32(kDefaultQuality);
    b.u32(0);    // sample size: varies
    b.zeros(8);  // frame rectangle
    b.close(vstrh);
    const uint32_t vstrf = b.open(fourcc("strf"));
    b.u32(kBitmapInfoHeaderBytes);
    b.u32(m.width);
    b.u32(m.height);
    b.u16(1);  // planes
    b.u16(kBitsPerPixel);
    b.u32(fourcc("MJPG"));      // compression
    b.u32(m.width * m.height);  // image size
    b.zeros(16);                // resolutions and colour counts
    b.close(vstrf);
    b.close(video);

    if (withSound) {
        const uint32_t bytesPerSample = (m.bitsPerSample + 7u) / 8u * m.channels;
        const uint32_t blockAlign = bytesPerSample != 0 ? bytesPerSample : 1;
        const uint32_t audio = b.openList(fourcc("strl"));
        const uint32_t astrh = b.open(fourcc("strh"));
        b.u32(fourcc("auds"));
        b.u32(0);                                                      // handler
        b.u32(0);                                                      // flags
        b.u16(0);                                                      // priority
        b.u16(0);                                                      // language
        b.u32(0);                                                      // initial frames
        b.u32(blockAlign);                                             // scale
        b.u32(blockAlign * m.samplesPerSec);                           // rate: bytes per second
        b.u32(0);                                                      // start
        b.u32(uint32_t(int32_t(m.soundBytes) / int32_t(blockAlign)));  // length in samples
        b.u32(0);                                                      // suggested buffer size
        b.u32(kDefaultQuality);
        b.u32(blockAlign);  // sample size
        b.zeros(8);         // frame rectangle
        b.close(astrh);
        const uint32_t astrf = b.open(fourcc("strf"));  // PCMWAVEFORMAT
        b.u16(m.formatTag);
        b.u16(m.channels);
        b.u32(m.samplesPerSec);
        b.u32(blockAlign * m.samplesPerSec);  // average bytes per second
        b.u16(blockAlign);
        b.u16(m.bitsPerSample);
        b.close(astrf);
        b.close(audio);
    }
    b.close(hdrl);

    // Zero bytes up to the "movi" list, which starts at a fixed offset.
    const uint32_t junk = b.open(fourcc("JUNK"));
    b.zeros(kAviMoviOffset - kChunkHeaderBytes - b.at);
    b.close(junk);
    b.u32(fourcc("LIST"));
    b.u32(moviEnd - kAviMoviOffset);  // the chunks written so far, after "movi"
    b.u32(fourcc("movi"));
    put32(header + 4, fileEnd - kChunkHeaderBytes);
}

namespace {

AviMovieFacts factsOf(const AviWriter& w) {
    return AviMovieFacts{
        .microsPerFrame = w.microsPerFrame,
        .width = w.width,
        .height = w.height,
        .handler = w.handler,
        .videoEntries = w.videoEntries,
        .formatTag = w.formatTag,
        .channels = w.channels,
        .samplesPerSec = w.samplesPerSec,
        .bitsPerSample = w.bitsPerSample,
        .soundBytes = w.soundBytes,
    };
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

// Writes the entries made since the last flush to the journal. On a failed write the journal's
// position goes back after its last whole entry, so the next flush overwrites the remains.
bool flushJournal(AviWriter& w) {
    if (w.journal.ops == nullptr) return true;
    while (w.journalBlock != w.currentIndexBlock || w.journalInBlock < w.entriesInBlock) {
        if (w.journalInBlock == kIndexEntriesPerBlock) {
            w.journalBlock = w.journalBlock->next;
            w.journalInBlock = 0;
            continue;
        }
        const uint32_t end =
            w.journalBlock == w.currentIndexBlock ? w.entriesInBlock : kIndexEntriesPerBlock;
        const uint32_t count = end - w.journalInBlock;
        if (w.journal.ops->write(w.journal.context, &w.journalBlock->entries[w.journalInBlock],
                                 count * uint32_t{sizeof(IndexEntry)}) == 0) {
            w.journal.ops->seek(
                w.journal.context,
                kAviJournalHeaderBytes + w.journalEntries * uint32_t{sizeof(IndexEntry)});
            return false;
        }
        w.journalInBlock = end;
        w.journalEntries += count;
    }
    return true;
}

// The header as it stands, without index, over the one at the start of the file; then back to
// the end of the last chunk. Entries made since the last chunk go to the journal with it.
bool refreshHeader(AviWriter& w, uint32_t nowMs) {
    w.headerRefreshMs = nowMs;
    if (!flushJournal(w)) return false;
    if (w.positionLost) return true;  // the next chunk write tries to get back first
    uint8_t header[kAviHeaderBytes];
    aviBuildHeader(factsOf(w), w.filePos, w.filePos, kAviFlagsNoIndex, header);
    if (w.file.ops->seek(w.file.context, 0)) write(w, header, kAviHeaderBytes);
    seekBack(w);
    return w.positionLost == 0;
}

// The journal's header: the movie's format, so that it can be finished without its header.
bool writeJournalHeader(AviWriter& w) {
    uint8_t header[kAviJournalHeaderBytes] = {};
    put32(header, kAviJournalMagic);
    put32(header + 4, kAviJournalVersion);
    put32(header + 8, w.microsPerFrame);
    put32(header + 12, w.width);
    put32(header + 16, w.height);
    put16(header + 20, w.formatTag);
    put16(header + 22, w.channels);
    put32(header + 24, w.samplesPerSec);
    put16(header + 28, w.bitsPerSample);
    return w.journal.ops->write(w.journal.context, header, sizeof header) != 0;
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
    if (!flushJournal(w)) return false;
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
    if (!flushJournal(w)) return false;
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
        if (!flushJournal(w)) return false;
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

// Closes a journal that is not wanted any more (deleting it) or that must stay.
void endJournal(AviWriter& w, bool keep) {
    if (w.journal.ops == nullptr) return;
    if (!keep && w.journal.ops->discard != nullptr) {
        w.journal.ops->discard(w.journal.context);
    } else {
        w.journal.ops->close(w.journal.context);
    }
    w.journal = AviSink{};
}

bool openSink(AviWriter& w, AviSink sink, AviSink journal, uint32_t width, uint32_t height,
              bool withSound) {
    auto refuse = [&] {
        sink.ops->close(sink.context);
        if (journal.ops == nullptr) return false;
        if (journal.ops->discard != nullptr) {
            journal.ops->discard(journal.context);
        } else {
            journal.ops->close(journal.context);
        }
        return false;
    };
    if (w.file.ops != nullptr) return refuse();  // a movie is open: leave it alone
    if (w.frameMs.load(std::memory_order_relaxed) == 0) {
        w.soundOn.store(0, std::memory_order_relaxed);
        return refuse();
    }
    if (w.firstIndexBlock == nullptr) {  // the allocation at start-up failed; try once more
        w.firstIndexBlock = new (std::nothrow) IndexBlock;
        if (w.firstIndexBlock == nullptr) return refuse();
        w.firstIndexBlock->next = nullptr;
    }
    w.soundOn.store(withSound ? 1 : 0, std::memory_order_relaxed);
    w.width = w.height = w.microsPerFrame = w.handler = w.videoEntries = 0;
    w.formatTag = w.channels = w.bitsPerSample = 0;
    w.samplesPerSec = w.soundBytes = w.filePos = 0;
    w.lastPicturePos = w.lastPictureSize = w.hasRepeats = w.sizeEstimate = 0;
    w.width = width;
    w.height = height;
    w.microsPerFrame = w.frameMs.load(std::memory_order_relaxed) * 1000;
    w.handler = fourcc("mjpg");

    // The header as it stands: a movie cut off before its first refresh still opens.
    uint8_t header[kAviHeaderBytes];
    aviBuildHeader(factsOf(w), kAviHeaderBytes, kAviHeaderBytes, kAviFlagsNoIndex, header);
    if (sink.ops->write(sink.context, header, kAviHeaderBytes) == 0) {
        w.soundOn.store(0, std::memory_order_relaxed);
        return refuse();
    }
    w.file = sink;
    w.positionLost = 0;
    w.finished = 0;
    w.filePos = kAviHeaderBytes;
    w.sizeEstimate = kAviHeaderBytes;
    w.currentIndexBlock = w.firstIndexBlock;
    w.entriesInBlock = 0;
    w.indexBytes = 0;
    w.ticksTotal.store(0, std::memory_order_relaxed);
    w.ticksSinceResume.store(0, std::memory_order_relaxed);

    if (w.soundOn.load(std::memory_order_relaxed) &&
        (w.sound.start == nullptr || w.sound.start(w.sound.context) == 0)) {
        w.soundOn.store(0, std::memory_order_relaxed);
    }
    if (w.soundOn.load(std::memory_order_relaxed)) {
        w.formatTag = kFormatPcm;
        w.channels = 1;
        w.samplesPerSec = 8000;
        w.bitsPerSample = 16;
    }

    w.journal = journal;
    w.journalBlock = w.firstIndexBlock;
    w.journalInBlock = 0;
    w.journalEntries = 0;
    if (w.journal.ops != nullptr && !writeJournalHeader(w)) {
        // No room for even the journal's header: the movie could not be kept either.
        endJournal(w, false);
        w.file.ops->close(w.file.context);
        w.file = AviSink{};
        if (w.soundOn.load(std::memory_order_relaxed)) {
            if (w.sound.stop != nullptr) w.sound.stop(w.sound.context);
            w.soundOn.store(0, std::memory_order_relaxed);
        }
        return false;
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
    if (journal.ops != nullptr) journal.ops->close(journal.context);
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
    const std::string journalPath = std::string(path) + kAviJournalSuffix;
    const AviSink journal = aviJournalFileSink(journalPath.c_str());
    if (journal.ops == nullptr) {
        std::fclose(file);
        return false;
    }
    return openSink(writer, aviFileSink(file), journal, width, height, withSound);
}

bool aviOpen(AviWriter& writer, AviSink sink, uint32_t width, uint32_t height, bool withSound) {
    std::lock_guard<std::mutex> lock(writer.fileLock);
    return openSink(writer, sink, AviSink{}, width, height, withSound);
}

bool aviOpen(AviWriter& writer, AviSink sink, AviSink journal, uint32_t width, uint32_t height,
             bool withSound) {
    std::lock_guard<std::mutex> lock(writer.fileLock);
    return openSink(writer, sink, journal, width, height, withSound);
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
        w.headerRefreshMs = nowMs;
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
    // Refreshed once the interval has passed, and after the movie's first tick so that a movie
    // cut off within its first second already holds a picture.
    if (nowMs - w.headerRefreshMs >= kAviHeaderRefreshMs ||
        (ticks != 0 && w.ticksTotal.load(std::memory_order_relaxed) == ticks && catchUp == 0))
        return refreshHeader(w, nowMs);
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

    // The header over the one written while recording; when it cannot be written the file is
    // closed as it is. Without the index or the header the journal stays, so the movie can be
    // finished later.
    uint8_t header[kAviHeaderBytes];
    aviBuildHeader(factsOf(w), moviEnd, w.filePos, flags, header);
    const bool headerWritten =
        w.file.ops->seek(w.file.context, 0) && write(w, header, kAviHeaderBytes);
    w.finished = indexWritten && headerWritten ? 1 : 0;
    if (!w.finished) flushJournal(w);

    w.file.ops->close(w.file.context);
    w.file = AviSink{};
    endJournal(w, !w.finished);
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
