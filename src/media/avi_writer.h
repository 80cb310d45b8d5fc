// The movie writer: a RIFF AVI file with one Motion-JPEG video stream and, when sound is on, one
// 8 kHz mono 16-bit PCM stream. Time is cut into ticks of `frameMs`; every tick gets one video
// index entry, a picture lasting several ticks is stored once and referred to again, and one
// sound chunk follows each tick. The 348-byte header is true from the start: written at open,
// refreshed at least once a second while recording and written last at close.
//
// Nothing lost: beside the movie the writer keeps a journal, the index entries in the order they
// are made, flushed with the chunks they describe. A movie cut off by power loss or a full card
// has a true header up to its last refresh and a journal from which its exact index is rebuilt
// (aviRepair, avi_repair.h). A movie closed normally loses its journal and is byte for byte what
// it would be without one. Standard library only.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "media/avi_sink.h"

// One "idx1" entry exactly as the file holds it.
struct IndexEntry {
    uint32_t chunkId;  // FOURCC of the chunk
    uint32_t flags;    // kAviKeyFrame for every video entry, 0 for sound
    uint32_t offset;   // chunk offset from the "movi" FOURCC: file offset - kAviMoviOffset
    uint32_t size;     // chunk data size rounded up to even (the chunk header holds the exact one)
};
static_assert(sizeof(IndexEntry) == 16);

constexpr uint32_t aviFourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kAviVideoChunk = aviFourcc("00dc");
constexpr uint32_t kAviSoundChunk = aviFourcc("01wb");
constexpr uint32_t kAviChunkHeaderBytes = 8;  // FOURCC + exact size

constexpr uint32_t kIndexEntriesPerBlock = 1024;

// The index is kept in memory in a chain of blocks that only grows: a movie fills it from
// `firstIndexBlock` on and the next movie reuses the same blocks. (The link is a native pointer,
// so a block is 16,384 bytes of entries plus 4 or 8 bytes of link.)
struct IndexBlock {
    IndexEntry entries[kIndexEntriesPerBlock];
    IndexBlock* next;
};
static_assert(sizeof(IndexBlock::entries) == 16384);

constexpr uint32_t kAviHeaderBytes = 348;          // reserved at open, written at close
constexpr uint32_t kAviMoviOffset = 344;           // file offset of the "movi" FOURCC
constexpr uint32_t kAviSizeLimit = 2000000000;     // a movie file never grows beyond this
constexpr uint32_t kAviKeyFrame = 0x10;            // AVIIF_KEYFRAME
constexpr uint32_t kAviFlagsIndexed = 0x00010010;  // AVIF_ISINTERLEAVED | AVIF_HASINDEX
constexpr uint32_t kAviFlagsRepeats = 0x00010030;  // ... | AVIF_MUSTUSEINDEX
constexpr uint32_t kAviFlagsNoIndex = 0x00010000;  // AVIF_ISINTERLEAVED only
constexpr uint32_t kAviHeaderRefreshMs = 1000;     // longest time a cut movie's header lags

// The journal: a 32-byte header naming the movie's format, then IndexEntry records exactly as the
// index will hold them, in order. Its file is the movie's path with this suffix.
constexpr char kAviJournalSuffix[] = ".journal";
constexpr uint32_t kAviJournalMagic = 0x4A564D4C;  // "LMVJ"
constexpr uint32_t kAviJournalVersion = 1;
constexpr uint32_t kAviJournalHeaderBytes = 32;

// What the header says about a movie, from the writer's fields or, when a cut movie is
// finished, from its journal and chunks.
struct AviMovieFacts {
    uint32_t microsPerFrame = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t handler = 0;       // FOURCC of the video codec ("mjpg")
    uint32_t videoEntries = 0;  // video index entries
    uint16_t formatTag = 0;     // sound format; all 0 without sound
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t bitsPerSample = 0;
    uint32_t soundBytes = 0;
};

// The 348-byte header: `moviEnd` is the file offset after the last chunk, `fileEnd` the file's
// size, `flags` one of kAviFlags*.
void aviBuildHeader(const AviMovieFacts& facts, uint32_t moviEnd, uint32_t fileEnd, uint32_t flags,
                    uint8_t* header);

// What the writer needs from the sound capture; the application's AudioCapture provides it.
// Buffers hold one tick of 8000 Hz mono 16-bit PCM each.
struct AviSoundSource {
    void* context = nullptr;
    // Opens the device, queues every buffer and starts recording; non-zero when recording. On
    // failure the source has already let go of whatever it had opened.
    uint32_t (*start)(void* context) = nullptr;
    // The oldest filled buffer's samples (valid until the next call), with `*bytes` set, or null
    // when no filled buffer is waiting.
    const uint8_t* (*take)(void* context, uint32_t* bytes) = nullptr;
    // Stops recording, gives the buffers back and closes the device.
    void (*stop)(void* context) = nullptr;
};

// The process-wide movie writer (one instance, `gAviWriter`). Opening, closing and resuming
// happen on the window thread, writing on the capture thread. The atomics are the fields another
// thread reads while a movie runs; the file and the other fields are touched only inside the
// avi* calls, under `fileLock`.
struct AviWriter {
    AviSink file;                   // the open file; `file.ops` null when no movie is open
    IndexBlock* firstIndexBlock;    // allocated with the writer, kept for its life
    IndexBlock* currentIndexBlock;  // block now being filled
    uint32_t entriesInBlock = 0;    // entries used in `currentIndexBlock` (0 to 1024)
    uint32_t indexBytes = 0;        // 16 x index entries in this movie
    uint32_t width = 0;             // picture size for the header
    uint32_t height = 0;
    uint32_t microsPerFrame = 0;  // frameMs x 1000
    uint32_t handler = 0;         // FOURCC "mjpg"
    uint32_t videoEntries = 0;    // video index entries: stored pictures and repeats
    uint16_t formatTag = 0;       // sound format for the header; all 0 without sound
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t bitsPerSample = 0;
    uint32_t soundBytes = 0;       // sound bytes written
    uint32_t filePos = 0;          // where the next chunk goes: the end of the last whole chunk
    uint32_t lastPicturePos = 0;   // file offset of the last stored picture chunk, 0 for none
    uint32_t lastPictureSize = 0;  // its exact size
    uint32_t hasRepeats = 0;       // an index entry refers to an earlier picture
    uint32_t sizeEstimate = 0;     // running estimate of the final file size, bytes
    AviSoundSource sound;
    uint32_t clockMs = 0;       // tick count (ms) at which the current tick began
    uint32_t remainderMs = 0;   // ms past the last whole tick, kept from the last new picture
    uint8_t pictureStored = 0;  // the picture at hand has been stored once
    std::atomic<uint32_t> ticksSinceResume{0};  // 0 restarts the clock (set by "Continue record")
    uint32_t soundChunks = 0;                   // sound chunks since the start or last resume
    std::atomic<uint32_t> picturesTaken{0};     // pictures since the start or last resume
    std::atomic<uint32_t> ticksTotal{0};        // ticks since the movie was opened
    std::atomic<uint8_t> soundOn{0};            // the movie has a working sound capture
    std::atomic<uint32_t> frameMs{0};           // tick length in ms ("Max FPS"), 0 until set

    // Kept for the movie's recording step and shared with the webcam branch: whether the picture
    // at hand differs from the last stored one, and the checksums that decide it (the webcam
    // sender thread writes `lastStoredChecksum`).
    uint8_t pictureChanged = 0;
    std::atomic<uint32_t> currentChecksum{0};
    std::atomic<uint32_t> lastStoredChecksum{0};
    uint8_t* moviePicture = nullptr;  // borrowed: the encoder's output buffer for movies
    uint32_t moviePictureSize = 0;    // bytes of the JPEG picture now in it

    uint8_t positionLost = 0;  // a seek back after a failed write failed; retried before writing

    // The journal (optional: `journal.ops` null for none). Entries up to `journalBlock` /
    // `journalInBlock` are in it; `journalEntries` counts them.
    AviSink journal;
    IndexBlock* journalBlock = nullptr;
    uint32_t journalInBlock = 0;
    uint32_t journalEntries = 0;
    uint32_t headerRefreshMs = 0;  // tick of the last header refresh
    // Set by aviClose: 1 when the index and the header were written (the journal is then
    // removed), 0 when the movie was left to be finished later from its journal.
    uint8_t finished = 0;
    // Held by every avi* call: while a recording is paused the capture thread still writes sound
    // (aviDrainPausedSound) and the window thread may close the movie at that moment.
    std::mutex fileLock;

    AviWriter();   // allocates the first index block
    ~AviWriter();  // frees the chain; closes a file left open without finishing it
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;
};

extern AviWriter gAviWriter;

// Starts a movie in a new file at `path` (created or truncated). `frameMs` must be set. With
// `withSound` the writer's sound source is started; when it cannot be, the movie has no sound
// and `soundOn` is clear. False when `frameMs` is 0, a movie is open, or the file cannot be
// created or its header placeholder written.
bool aviOpen(AviWriter& writer, const char* path, uint32_t width, uint32_t height, bool withSound);
// The same on a file the caller opened; the writer owns the sink from this call on and closes
// it in aviClose, or here when the open fails.
bool aviOpen(AviWriter& writer, AviSink sink, uint32_t width, uint32_t height, bool withSound);
// The same with a journal the caller opened (empty, for writing). The writer owns it too: a
// normal close discards it (its `discard` op deletes the file), a close that could not finish
// the movie closes it and leaves it; a failed open discards it.
bool aviOpen(AviWriter& writer, AviSink sink, AviSink journal, uint32_t width, uint32_t height,
             bool withSound);

// Called twice per camera picture while recording: with the previous picture and catchUp = 1
// (fills the ticks that have passed), then with the new one and catchUp = 0. `nowMs` is the
// frame's tick count. False when a chunk could not be written or the size limit is reached.
bool aviWriteFrame(AviWriter& writer, const uint8_t* jpeg, uint32_t jpegSize, uint32_t nowMs,
                   uint32_t catchUp);

// Writes up to three waiting sound buffers while fewer sound chunks than ticks were written.
bool aviWriteSound(AviWriter& writer);

// The sound step of a paused recording: keep the sound chunks level with the ticks, then throw
// away whatever else was recorded so the next tick starts with fresh sound.
void aviDrainPausedSound(AviWriter& writer);

// Writes the index and the header and closes the file; stops the sound. Always true; `finished`
// tells whether the movie was completed or left with its journal.
bool aviClose(AviWriter& writer);

// Exclusive-or of the 32-bit words in the first `bytes` bytes (rounded down to a multiple of 4),
// the test for an unchanged screen picture.
uint32_t pictureChecksum(const uint8_t* pixels, uint32_t bytes);
