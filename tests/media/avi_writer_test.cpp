// The movie writer: exact header bytes, the tick arithmetic, the index chain, sound, the size
// limit and failed writes. ffprobe and ffmpeg read the files as an independent oracle.
#include "media/avi_writer.h"

#include "media/avi_repair.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/movie_oracle.h"
#include "media/test_pictures.h"
#include "support/wait_until.h"

// Index entries compare whole, as the file holds them.
bool operator==(const IndexEntry& a, const IndexEntry& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace {

using testpics::makeJpeg;

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

constexpr uint32_t fcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

struct Chunk {
    uint32_t id, offset, size;  // FOURCC, file offset of the chunk header, exact size
    bool operator==(const Chunk&) const = default;
};

// Walks the "movi" list as its header describes it; every chunk must end inside it.
std::vector<Chunk> movieChunks(const std::vector<uint8_t>& file) {
    std::vector<Chunk> chunks;
    const uint32_t end = kAviMoviOffset + get32(file, 340);
    EXPECT_LE(end, file.size());
    uint32_t at = kAviHeaderBytes;
    for (; at + 8 <= std::min<size_t>(end, file.size());
         at += 8 + (get32(file, at + 4) + 1) / 2 * 2)
        chunks.push_back({get32(file, at), at, get32(file, at + 4)});
    EXPECT_EQ(at, end) << "the movie list must end exactly after its last chunk";
    return chunks;
}

// The "idx1" entries that follow the movie list.
std::vector<IndexEntry> movieIndex(const std::vector<uint8_t>& file) {
    const uint32_t at = kAviMoviOffset + get32(file, 340);
    if (at + 8 > file.size() || get32(file, at) != fcc("idx1")) return {};
    std::vector<IndexEntry> entries(std::min<size_t>(get32(file, at + 4), file.size() - at - 8) /
                                    16);
    if (!entries.empty()) std::memcpy(entries.data(), &file[at + 8], entries.size() * 16);
    return entries;
}

// Plays the part of the movie's recording step: the previous picture with catchUp 1, then the
// new one (or the unchanged buffer) with catchUp 0.
struct Recorder {
    AviWriter& w;
    std::vector<uint8_t> buffer;
    bool frame(const std::vector<uint8_t>& picture, uint32_t now, bool changed = true) {
        if (!aviWriteFrame(w, buffer.data(), uint32_t(buffer.size()), now, 1)) return false;
        w.pictureChanged = changed ? 1 : 0;
        if (changed) buffer = picture;
        return aviWriteFrame(w, buffer.data(), uint32_t(buffer.size()), now, 0);
    }
};

// A wave input that starts when `startResult` says so and fills `buffersLeft` more buffers.
struct FakeSound {
    uint32_t bytesPerBuffer, buffersLeft = UINT32_MAX, startResult = 1, taken = 0, stops = 0;
    std::vector<uint8_t> current{};

    AviSoundSource source() {
        AviSoundSource s;
        s.context = this;
        s.start = [](void* c) { return static_cast<FakeSound*>(c)->startResult; };
        s.take = [](void* c, uint32_t* bytes) -> const uint8_t* {
            auto* self = static_cast<FakeSound*>(c);
            if (self->buffersLeft == 0) return nullptr;
            self->buffersLeft -= 1;
            self->current.assign(self->bytesPerBuffer, uint8_t(++self->taken));
            *bytes = self->bytesPerBuffer;
            return self->current.data();
        };
        s.stop = [](void* c) { static_cast<FakeSound*>(c)->stops += 1; };
        return s;
    }
};

// The header as the file layout table gives it, field by field.
std::vector<uint8_t> expectedHeader(uint32_t fileSize, uint32_t moviEnd, uint32_t frameMs,
                                    uint32_t flags, uint32_t frames, uint32_t width,
                                    uint32_t height, uint32_t soundBytes) {
    std::vector<uint8_t> h(348, 0);
    auto p32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i));
    };
    auto p16 = [&](size_t at, uint32_t v) {
        h[at] = uint8_t(v);
        h[at + 1] = uint8_t(v >> 8);
    };
    const bool sound = soundBytes != 0;
    p32(0, fcc("RIFF")), p32(4, fileSize - 8), p32(8, fcc("AVI ")), p32(12, fcc("LIST"));
    p32(16, sound ? 292 : 192), p32(20, fcc("hdrl")), p32(24, fcc("avih")), p32(28, 56);
    p32(32, frameMs * 1000), p32(36, 10000000), p32(44, flags), p32(48, frames);
    p32(56, sound ? 2 : 1), p32(64, width), p32(68, height);
    p32(88, fcc("LIST")), p32(92, 116), p32(96, fcc("strl")), p32(100, fcc("strh"));
    p32(104, 56), p32(108, fcc("vids")), p32(112, fcc("mjpg")), p32(128, frameMs * 1000);
    p32(132, 1000000), p32(140, frames), p32(148, 0xFFFFFFFF), p32(164, fcc("strf"));
    p32(168, 40), p32(172, 40), p32(176, width), p32(180, height), p16(184, 1), p16(186, 24);
    p32(188, fcc("MJPG")), p32(192, width * height);
    size_t junk = 212;
    if (sound) {
        p32(212, fcc("LIST")), p32(216, 92), p32(220, fcc("strl")), p32(224, fcc("strh"));
        p32(228, 56), p32(232, fcc("auds")), p32(252, 2), p32(256, 16000);
        p32(264, soundBytes / 2), p32(272, 0xFFFFFFFF), p32(276, 2), p32(288, fcc("strf"));
        p32(292, 16), p16(296, 1), p16(298, 1), p32(300, 8000), p32(304, 16000), p16(308, 2);
        p16(310, 16);
        junk = 312;
    }
    p32(junk, fcc("JUNK")), p32(junk + 4, sound ? 16 : 116);
    p32(336, fcc("LIST")), p32(340, moviEnd - 344), p32(344, fcc("movi"));
    return h;
}

std::vector<uint8_t> headerOf(const std::vector<uint8_t>& file) {
    return std::vector<uint8_t>(file.begin(), file.begin() + 348);
}

// What ffprobe and ffmpeg read in a movie held in memory.
movieoracle::Movie readBack(const AviMemoryFile& mem) {
    const std::string path = ::testing::TempDir() + "lumo_avi_" + std::to_string(getpid()) + ".avi";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(mem.bytes.data()), std::streamsize(mem.bytes.size()));
    const movieoracle::Movie m = movieoracle::readMovie(path);
    std::filesystem::remove(path);
    return m;
}

// A writer recording into memory, and its recording step.
class Avi : public ::testing::Test {
  protected:
    bool open(uint32_t frameMs, uint32_t width = 16, uint32_t height = 16,
              FakeSound* sound = nullptr, AviMemoryFile* journal = nullptr) {
        w.frameMs = frameMs;
        if (sound) w.sound = sound->source();
        if (journal)
            return aviOpen(w, aviMemorySink(&mem), aviMemorySink(journal), width, height,
                           sound != nullptr);
        return aviOpen(w, aviMemorySink(&mem), width, height, sound != nullptr);
    }
    AviWriter w;
    AviMemoryFile mem;
    Recorder rec{w, {}};
};

// A movie and its journal as files again (a card put into a reader), finished by aviRepair.
struct Repaired {
    AviRepairReport report;
    std::vector<uint8_t> bytes;
};

Repaired repairBytes(const std::vector<uint8_t>& movie, const std::vector<uint8_t>* journal) {
    std::FILE* m = std::tmpfile();
    std::FILE* j = journal ? std::tmpfile() : nullptr;
    std::fwrite(movie.data(), 1, movie.size(), m);
    if (j) {
        std::fwrite(journal->data(), 1, journal->size(), j);
        std::rewind(j);
    }
    Repaired r{aviRepair(m, j), {}};
    std::fseek(m, 0, SEEK_END);
    r.bytes.resize(size_t(std::ftell(m)));
    std::rewind(m);
    EXPECT_EQ(std::fread(r.bytes.data(), 1, r.bytes.size(), m), r.bytes.size());
    std::fclose(m);
    if (j) std::fclose(j);
    return r;
}

// The header's counts agree with the index: frames (avih and strh) = video entries, the sound
// stream's length = the sound chunks' bytes / 2. A movie closed after a failed write may keep the
// remains of the failed chunk after its RIFF chunk; a finished one is covered whole.
void expectCountsAgree(const std::vector<uint8_t>& file, bool wholeFile = true) {
    const std::vector<IndexEntry> index = movieIndex(file);
    uint32_t video = 0, soundBytes = 0;
    for (const IndexEntry& e : index) {
        if (e.chunkId == fcc("00dc")) video += 1;
        if (e.chunkId == fcc("01wb")) soundBytes += get32(file, e.offset + 344 + 4);
    }
    EXPECT_EQ(get32(file, 48), video);
    EXPECT_EQ(get32(file, 140), video);
    if (soundBytes != 0) {
        EXPECT_EQ(get32(file, 232), fcc("auds"));
        EXPECT_EQ(get32(file, 264), soundBytes / 2);
    }
    if (wholeFile) {
        EXPECT_EQ(get32(file, 4) + 8, file.size()) << "the RIFF chunk covers the whole file";
    } else {
        EXPECT_LE(get32(file, 4) + 8, file.size());
    }
}

// A one-picture movie of an odd size, without sound, with sound on but no buffer ever filled,
// and on a device whose sound cannot start: one stream and a 116-byte JUNK each time.
TEST_F(Avi, AOnePictureMovieOfAnOddSizeWithoutSoundIsLaidOutExactlyAndPlays) {
    std::vector<uint8_t> pic;
    for (int quality = 90; pic.size() % 2 == 0; --quality) pic = makeJpeg(33, 17, 1, quality);
    const uint32_t size = uint32_t(pic.size()), moviEnd = 348 + 8 + size + 1;
    const bool player = testpics::haveFfmpeg();
    for (const uint32_t startResult : {2u, 1u, 0u}) {  // 2: no sound asked for
        SCOPED_TRACE(startResult);
        FakeSound sound{1600, 0, startResult};
        mem = {};
        rec.buffer.clear();
        ASSERT_TRUE(open(40, 33, 17, startResult == 2 ? nullptr : &sound));
        EXPECT_EQ(w.soundOn.load(), startResult == 1) << "on when the device starts";
        ASSERT_TRUE(rec.frame(pic, 5000));
        aviClose(w);
        EXPECT_EQ(sound.taken, 0u);
        EXPECT_EQ(sound.stops, startResult == 1 ? 1u : 0u);
        ASSERT_EQ(mem.bytes.size(), moviEnd + 8 + 16);
        EXPECT_EQ(headerOf(mem.bytes), expectedHeader(uint32_t(mem.bytes.size()), moviEnd, 40,
                                                      0x00010010, 1, 33, 17, 0));
        // The chunk header holds the odd size, the index entry the even one, offset from "movi".
        EXPECT_EQ(movieChunks(mem.bytes), (std::vector<Chunk>{{fcc("00dc"), 348, size}}));
        EXPECT_TRUE(std::equal(pic.begin(), pic.end(), mem.bytes.begin() + 356));
        EXPECT_EQ(movieIndex(mem.bytes), (std::vector<IndexEntry>{{fcc("00dc"), 16, 4, size + 1}}));
        if (!player) continue;
        const movieoracle::Movie m = readBack(mem);
        EXPECT_EQ(std::tuple(m.streams, m.frameRate, m.ticks, m.pictureTicks, m.decodeErrors),
                  std::tuple(1, "25/1", 1L, std::vector<long>{0}, ""));
    }
    if (!player) GTEST_SKIP() << "laid out exactly; not played: ffprobe/ffmpeg not installed";
}

TEST_F(Avi, MovieWithSoundAndRepeatsIsLaidOutExactlyAndPlays) {
    FakeSound sound{3200};
    ASSERT_TRUE(open(200, 48, 31, &sound));
    EXPECT_EQ(w.soundOn.load(), 1);
    ASSERT_TRUE(rec.frame(makeJpeg(48, 31, 2), 1000));
    ASSERT_TRUE(rec.frame(makeJpeg(48, 31, 3), 1500));  // three ticks: stored, then repeated
    aviClose(w);
    EXPECT_EQ(sound.stops, 1u);
    EXPECT_EQ(w.soundOn.load(), 0);

    // The pictures and a tick's sound each: a, sound, b, sound, (repeat of b), sound.
    const std::vector<Chunk> c = movieChunks(mem.bytes);
    std::vector<uint32_t> ids;
    for (const Chunk& chunk : c) ids.push_back(chunk.id);
    ASSERT_EQ(ids, (std::vector{fcc("00dc"), fcc("01wb"), fcc("00dc"), fcc("01wb"), fcc("01wb")}));
    EXPECT_EQ(c[1].size, 3200u);
    const uint32_t moviEnd = c.back().offset + 8 + 3200;
    EXPECT_EQ(headerOf(mem.bytes), expectedHeader(uint32_t(mem.bytes.size()), moviEnd, 200,
                                                  0x00010030, 3, 48, 31, 3 * 3200));
    std::vector<IndexEntry> index;
    for (size_t i : {0, 1, 2, 3, 2, 4})
        index.push_back({c[i].id, c[i].id == fcc("00dc") ? 16u : 0u, c[i].offset - 344,
                         (c[i].size + 1) / 2 * 2});
    EXPECT_EQ(movieIndex(mem.bytes), index);

    // ffmpeg reads 8 kHz 16-bit mono PCM beside the video, a tick's sound for every tick.
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    const movieoracle::Movie m = readBack(mem);
    EXPECT_EQ(std::tuple(m.streams, m.frameRate, m.ticks, m.sound, m.soundSamples, m.decodeErrors),
              std::tuple(2, "5/1", 3L, true, 3L * 1600, ""));
}

TEST_F(Avi, PicturesEvery500msAt200msTicksPlayAtTheirTicks) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    ASSERT_TRUE(open(200, 33, 17));
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(rec.frame(makeJpeg(33, 17, k), 70000 + 500 * k));
    // Five ticks per second and two pictures: 2.5 index entries per picture.
    EXPECT_EQ(w.videoEntries, 23u);
    EXPECT_EQ(w.ticksTotal.load(), 23u);
    aviClose(w);

    const movieoracle::Movie m = readBack(mem);
    EXPECT_EQ(std::tuple(m.streams, m.width, m.height, m.frameRate, m.ticks, m.decodeErrors),
              std::tuple(1, 33, 17, "5/1", 23L, ""));
    EXPECT_DOUBLE_EQ(m.duration, 4.6);
    // Each picture plays from the tick at which it was stored; repeats fold into it.
    EXPECT_EQ(m.pictureTicks, (std::vector<long>{0, 1, 4, 6, 9, 11, 14, 16, 19, 21}));
}

TEST_F(Avi, LateSoundCatchesUpAndAPausedRecordingDrainsItWhileClosing) {
    FakeSound sound{640, 0};
    ASSERT_TRUE(open(40, 16, 16, &sound));
    const std::vector<uint8_t> pic = makeJpeg(16, 16, 0);
    ASSERT_TRUE(rec.frame(pic, 0));
    ASSERT_TRUE(rec.frame(pic, 160));  // 5 ticks, no sound yet
    EXPECT_EQ(w.soundChunks, 0u);
    sound.buffersLeft = 100;
    ASSERT_TRUE(rec.frame(pic, 200));  // one tick, three chunks
    EXPECT_EQ(w.soundChunks, 3u);
    // Paused: the sound is first brought level with the ticks, the rest thrown away.
    aviDrainPausedSound(w);
    EXPECT_EQ(w.soundChunks, 6u);
    aviDrainPausedSound(w);
    EXPECT_EQ(w.soundChunks, 6u);
    EXPECT_EQ(sound.buffersLeft, 0u);

    // 100 ticks without sound; the device catches up while the choice page is open and the
    // capture thread drains it, when the window thread closes the movie ("Save movie").
    ASSERT_TRUE(rec.frame(pic, 4200));
    sound.buffersLeft = 500;
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread capture([&] {
        for (; !stop; calls += 1) aviDrainPausedSound(w);
    });
    EXPECT_TRUE(waitUntil([&] { return calls >= 3; }, std::chrono::seconds(10),
                          std::chrono::milliseconds(1)));
    aviClose(w);
    stop = true;
    capture.join();
    EXPECT_EQ(sound.stops, 1u);
    size_t soundChunks = 0;
    for (const Chunk& c : movieChunks(mem.bytes)) soundChunks += c.id == fcc("01wb");
    EXPECT_EQ(soundChunks * 640, get32(mem.bytes, 264) * 2);  // the header's sample count
    EXPECT_GT(soundChunks, 6u);
}

TEST_F(Avi, The1025thEntryTakesASecondBlockOnceAndLaterMoviesReuseIt) {
    const std::vector<uint8_t> pic = makeJpeg(8, 8, 0);
    const uint32_t size = uint32_t(pic.size());
    IndexBlock* second = nullptr;
    for (const uint32_t last : {1024u, 1999u}) {  // a movie of 1025 entries, then one of 2000
        SCOPED_TRACE(last);
        mem = {};
        ASSERT_TRUE(open(1, 8, 8));
        EXPECT_EQ(w.currentIndexBlock, w.firstIndexBlock);
        w.pictureChanged = 1;
        ASSERT_TRUE(aviWriteFrame(w, nullptr, 0, 0, 1));
        ASSERT_TRUE(aviWriteFrame(w, pic.data(), size, 0, 0));     // entry 1: the picture
        ASSERT_TRUE(aviWriteFrame(w, pic.data(), size, 1023, 0));  // entries 2 to 1024: repeats
        EXPECT_EQ(w.firstIndexBlock->next, second);                // none yet in the first movie
        ASSERT_TRUE(aviWriteFrame(w, pic.data(), size, last, 0));
        if (!second) second = w.firstIndexBlock->next;
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(w.firstIndexBlock->next, second) << "allocated once, then reused";
        EXPECT_EQ(w.currentIndexBlock, second);
        aviClose(w);
        const std::vector<IndexEntry> index = movieIndex(mem.bytes);
        ASSERT_EQ(index.size(), last + 1);
        EXPECT_EQ(index[last].offset, 4u);
        EXPECT_EQ(index[last].size, size + (size & 1));
    }
}

TEST_F(Avi, TicksCountAcrossTheClockWrapNeverBackwardAndNotForAPause) {
    ASSERT_TRUE(open(100));
    const uint32_t start = 0xFFFFFF00u;  // the tick count wraps past 0 after 256 ms
    for (uint32_t k = 0; k <= 10; ++k) ASSERT_TRUE(rec.frame(makeJpeg(16, 16, k), start + 100 * k));
    EXPECT_EQ(w.ticksTotal.load(), 11u);
    EXPECT_EQ(w.picturesTaken.load(), 11u);
    ASSERT_TRUE(rec.frame({}, start + 900, false));  // earlier than the clock
    EXPECT_EQ(w.ticksTotal.load(), 11u);
    const uint32_t resumed = start + 61000;
    w.ticksSinceResume = 0;  // "Continue record" after a minute on the choice page
    ASSERT_TRUE(rec.frame(makeJpeg(16, 16, 50), resumed));
    EXPECT_EQ(w.ticksTotal.load(), 12u) << "one tick for the picture, none for the pause";
    EXPECT_EQ(w.picturesTaken.load(), 1u);
    for (uint32_t k = 1; k <= 4; ++k)
        ASSERT_TRUE(rec.frame(makeJpeg(16, 16, 50 + k), resumed + 100 * k));
    EXPECT_EQ(w.ticksTotal.load(), 16u);
    EXPECT_EQ(w.picturesTaken.load(), 5u);
    aviClose(w);
    EXPECT_EQ(get32(mem.bytes, 48), 16u);
    EXPECT_EQ(movieChunks(mem.bytes).size(), 16u);
}

TEST_F(Avi, UnchangedPicturesAreRepeatedButAMovieAlwaysStoresItsFirst) {
    ASSERT_TRUE(open(100));
    rec.buffer = makeJpeg(16, 16, 9);  // left from an earlier movie of the same screen
    w.currentChecksum = 0x1234;
    ASSERT_TRUE(rec.frame({}, 0, false));
    EXPECT_EQ(w.lastStoredChecksum.load(), 0x1234u);
    ASSERT_TRUE(rec.frame({}, 300, false));
    aviClose(w);
    EXPECT_EQ(movieChunks(mem.bytes).size(), 1u);
    EXPECT_EQ(get32(mem.bytes, 48), 4u);
    EXPECT_EQ(get32(mem.bytes, 44), 0x00010030u);
}

TEST(AviLimits, TheSizeLimitStopsBeforeAnyByteIsWritten) {
    static uint64_t position = 0, end = 0;  // the counting sink's position and furthest byte
    static constexpr AviSinkOps kCountingOps = {
        .write = [](void*, const void*, uint32_t size) -> uint32_t {
            position += size;
            end = std::max(end, position);
            return 1;
        },
        .seek = [](void*, uint32_t offset) -> uint32_t {
            position = offset;
            return 1;
        },
        .close = [](void*) {},
    };
    AviWriter w;
    w.frameMs = 100;
    ASSERT_TRUE(aviOpen(w, AviSink{&kCountingOps, nullptr}, 640, 480, false));
    std::vector<uint8_t> big(64u << 20, 0);  // never read by the counting sink, but real
    uint32_t now = 0;
    ASSERT_TRUE(aviWriteFrame(w, nullptr, 0, now, 1));
    auto room = [&] { return uint64_t{2000000000} - 32 - w.indexBytes - w.filePos; };
    auto store = [&](uint32_t size) {
        w.pictureChanged = 1;
        return aviWriteFrame(w, big.data(), size, now, 0) &&
               aviWriteFrame(w, big.data(), size, now += 100, 1);
    };
    while (room() >= big.size()) ASSERT_TRUE(store(uint32_t(big.size())));
    // A picture that exactly fills the limit is still written...
    ASSERT_TRUE(store(uint32_t(room())));
    // ...and one byte more is refused without writing anything.
    const uint32_t filePos = w.filePos, entries = w.videoEntries;
    const uint64_t written = end;
    w.pictureChanged = 1;
    EXPECT_FALSE(aviWriteFrame(w, big.data(), 1, now, 0));
    EXPECT_EQ(w.filePos, filePos);
    EXPECT_EQ(w.videoEntries, entries);
    EXPECT_EQ(end, written);
    aviClose(w);
    EXPECT_LE(end, 2000000000u);
}

TEST_F(Avi, FailedWritesLoseNoWholeChunkAndTheFileStillPlays) {
    ASSERT_TRUE(open(100, 24, 18));
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(rec.frame(makeJpeg(24, 18, k), 100 * k));
    mem.failAfter = w.filePos + 100;  // fails in the middle of the next picture
    mem.failSeeks = 1;                // and the way back fails at first too
    EXPECT_FALSE(rec.frame(makeJpeg(24, 18, 3), 300));
    EXPECT_EQ(w.positionLost, 1);
    mem.failAfter = UINT32_MAX;
    EXPECT_FALSE(rec.frame(makeJpeg(24, 18, 4), 400)) << "must not write at an unknown position";
    mem.failSeeks = 0;
    w.ticksSinceResume = 0;  // the recording pauses and resumes
    for (int k = 5; k < 8; ++k) ASSERT_TRUE(rec.frame(makeJpeg(24, 18, k), 100 * k));

    // Then the card fills up inside the next chunk header.
    const uint32_t filePos = w.filePos;
    mem.failAfter = filePos + 4;
    EXPECT_FALSE(rec.frame(makeJpeg(24, 18, 8), 800));
    EXPECT_EQ(w.filePos, filePos);
    EXPECT_EQ(w.videoEntries, 6u);
    EXPECT_EQ(mem.position, filePos);  // back at the end of the last whole chunk
    const std::vector<IndexEntry> index(w.firstIndexBlock->entries, w.firstIndexBlock->entries + 6);
    aviClose(w);  // the index does not fit either
    EXPECT_EQ(get32(mem.bytes, 44), 0x00010000u);
    EXPECT_EQ(get32(mem.bytes, 4), filePos - 8);
    EXPECT_EQ(get32(mem.bytes, 340), filePos - 344);
    const std::vector<Chunk> chunks = movieChunks(mem.bytes);
    ASSERT_EQ(chunks.size(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(index[i].offset + 344, chunks[i].offset) << i;
    const std::vector<uint8_t> last = makeJpeg(24, 18, 7);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), mem.bytes.begin() + chunks[5].offset + 8));
    if (!testpics::haveFfmpeg())
        GTEST_SKIP() << "laid out exactly; not played: ffprobe/ffmpeg not installed";
    const movieoracle::Movie m = readBack(mem);
    EXPECT_EQ(std::tuple(m.pictureTicks.size(), m.decodeErrors), std::tuple(6u, ""));
}

// Power cut in the middle of a movie with sound and repeats: the file as it stands opens at once,
// and finished from its journal it holds exactly the first entries of the index the writer made,
// with a header true to them. The normally closed movie leaves no journal.
TEST_F(Avi, ACutMovieOpensAndItsJournalRebuildsExactlyTheIndexMadeSoFar) {
    FakeSound sound{1600};
    AviMemoryFile journal;
    ASSERT_TRUE(open(40, 32, 24, &sound, &journal));
    std::vector<uint8_t> cut, cutJournal;
    uint32_t entriesAtCut = 0;
    for (int k = 0; k < 25; ++k) {
        ASSERT_TRUE(rec.frame(makeJpeg(32, 24, k), 10000 + 110 * uint32_t(k)));
        if (k == 14) {  // 1.54 s in: after the refresh at 1 s
            cut = mem.bytes, cutJournal = journal.bytes;
            entriesAtCut = w.indexBytes / 16;
        }
    }
    aviClose(w);
    EXPECT_TRUE(w.finished);
    EXPECT_TRUE(journal.discarded) << "a finished movie's journal is deleted";
    const std::vector<IndexEntry> whole = movieIndex(mem.bytes);

    // Before anything is done the cut file has a true RIFF header with the stream it had then.
    EXPECT_EQ(get32(cut, 0), fcc("RIFF"));
    EXPECT_GE(get32(cut, 48), 20u) << "refreshed at 1 s";
    EXPECT_LE(kAviMoviOffset + get32(cut, 340), cut.size());
    EXPECT_EQ(get32(cut, 44), kAviFlagsNoIndex);

    const Repaired r = repairBytes(cut, &cutJournal);
    ASSERT_EQ(r.report.outcome, AviRepairOutcome::Finished) << r.report.problem;
    EXPECT_TRUE(r.report.exact);
    const std::vector<IndexEntry> rebuilt = movieIndex(r.bytes);
    EXPECT_EQ(rebuilt.size(), entriesAtCut) << "every entry made before the cut";
    EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.end(), whole.begin()));
    expectCountsAgree(r.bytes);
    EXPECT_EQ(get32(r.bytes, 44), 0x00010030u);
    EXPECT_EQ(repairBytes(r.bytes, &cutJournal).report.outcome, AviRepairOutcome::AlreadyComplete);

    // Without the journal: one entry per whole chunk, no repeats.
    const Repaired a = repairBytes(cut, nullptr);
    ASSERT_EQ(a.report.outcome, AviRepairOutcome::Finished) << a.report.problem;
    EXPECT_FALSE(a.report.exact);
    const std::vector<Chunk> chunks = movieChunks(a.bytes);
    ASSERT_EQ(movieIndex(a.bytes).size(), chunks.size());
    expectCountsAgree(a.bytes);

    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    AviMemoryFile asCut;
    asCut.bytes = cut;
    const movieoracle::Movie before = readBack(asCut);
    EXPECT_TRUE(before.read && before.sound) << "ffprobe reads the cut file as it is";
    asCut.bytes = r.bytes;
    const movieoracle::Movie after = readBack(asCut);
    EXPECT_EQ(std::tuple(after.streams, after.ticks, after.decodeErrors),
              std::tuple(2, long(get32(r.bytes, 48)), ""));
    EXPECT_EQ(after.soundSamples, long(get32(r.bytes, 264)));
}

// A card that fills up or is pulled out at each write of a short movie's life in turn (header,
// journal, picture, sound, refresh, index): the movie ends playable at once, or finishable from
// its journal once the card is back or has room; no entry made before the failure is lost.
TEST(AviFaults, AFailureAtEveryWriteEndsPlayableOrFinishable) {
    struct Card {
        uint32_t writes = 0, failFrom = UINT32_MAX;
        bool removed = false;
    };
    struct CardFile {
        Card* card;
        AviMemoryFile mem;
    };
    static constexpr AviSinkOps kCardOps = {
        .write = [](void* c, const void* data, uint32_t size) -> uint32_t {
            auto* f = static_cast<CardFile*>(c);
            if (++f->card->writes >= f->card->failFrom) {
                if (f->card->removed) return 0;
                f->mem.failAfter =
                    std::min<uint32_t>(f->mem.failAfter, uint32_t(f->mem.bytes.size()));
            }
            const AviSink inner = aviMemorySink(&f->mem);
            return inner.ops->write(inner.context, data, size);
        },
        .seek = [](void* c, uint32_t offset) -> uint32_t {
            auto* f = static_cast<CardFile*>(c);
            if (f->card->removed && f->card->writes >= f->card->failFrom) return 0;
            f->mem.position = offset;
            return 1;
        },
        .close = [](void* c) { static_cast<CardFile*>(c)->mem.closed = 1; },
        .discard = [](void* c) { static_cast<CardFile*>(c)->mem.discarded = 1; },
    };
    uint32_t failures = 0;
    for (const bool removed : {false, true}) {
        for (uint32_t failFrom = 1;; ++failFrom) {
            SCOPED_TRACE(std::string(removed ? "card removed" : "card full") + " at write " +
                         std::to_string(failFrom));
            Card card{0, failFrom, removed};
            CardFile movie{&card, {}}, journal{&card, {}};
            AviWriter w;
            FakeSound sound{800};
            w.sound = sound.source();
            w.frameMs = 100;
            Recorder rec{w, {}};
            uint32_t goodEntries = 0;
            const bool opened =
                aviOpen(w, AviSink{&kCardOps, &movie}, AviSink{&kCardOps, &journal}, 24, 16, true);
            bool failed = !opened;
            for (uint32_t k = 0; !failed && k < 14; ++k) {
                if (rec.frame(makeJpeg(24, 16, int(k)), 150 * k)) {
                    goodEntries = w.indexBytes / 16;
                } else {
                    failed = true;  // the recording pauses; "Save movie" follows
                }
            }
            if (w.file.ops) aviClose(w);
            if (card.writes < failFrom) break;  // the whole movie was written: every write tried
            failures += 1;
            if (!opened) {
                // Not even the header or the journal's fitted: nothing recorded, open said so.
                EXPECT_TRUE(journal.mem.discarded);
                continue;
            }
            std::vector<uint8_t> file = movie.mem.bytes;
            const bool finished = w.finished;
            if (!finished) {
                EXPECT_FALSE(journal.mem.discarded)
                    << "the journal stays when the index is missing";
                const Repaired r = repairBytes(file, &journal.mem.bytes);
                ASSERT_EQ(r.report.outcome, AviRepairOutcome::Finished) << r.report.problem;
                file = r.bytes;
            } else {
                EXPECT_TRUE(journal.mem.discarded);
            }
            EXPECT_GE(movieIndex(file).size(), goodEntries);
            expectCountsAgree(file, !finished);
        }
    }
    EXPECT_GT(failures, 40u) << "a short movie's life has many writes";
}

TEST(AviRepair, LeavesWhatItCannotUnderstandUntouched) {
    const std::vector<uint8_t> text(1000, 'x');
    const std::vector<uint8_t> zeros(2000, 0);
    const std::vector<uint8_t> badJournal(64, 7);
    for (const auto* file : {&text, &zeros}) {
        for (const auto* journal :
             {static_cast<const std::vector<uint8_t>*>(nullptr), &badJournal}) {
            const Repaired r = repairBytes(*file, journal);
            EXPECT_EQ(r.report.outcome, AviRepairOutcome::NotUnderstood);
            EXPECT_FALSE(r.report.problem.empty());
            EXPECT_EQ(r.bytes, *file);
        }
    }
    const Repaired tiny = repairBytes(std::vector<uint8_t>(100, 0), nullptr);
    EXPECT_EQ(tiny.report.outcome, AviRepairOutcome::NotUnderstood);
    EXPECT_EQ(tiny.bytes.size(), 100u);
}

TEST(AviOpen, RefusesWithoutTickLengthTwiceOrWithoutAFile) {
    AviWriter w;
    AviMemoryFile mem, tiny, one, two;
    w.soundOn = 1;
    EXPECT_FALSE(aviOpen(w, aviMemorySink(&mem), 16, 16, true));
    EXPECT_EQ(w.soundOn.load(), 0);
    EXPECT_TRUE(mem.closed);

    w.frameMs = 100;
    EXPECT_FALSE(aviOpen(w, "/nonexistent-folder/movie.avi", 16, 16, false));
    tiny.failAfter = 100;  // the header placeholder does not fit
    EXPECT_FALSE(aviOpen(w, aviMemorySink(&tiny), 16, 16, false));
    EXPECT_TRUE(tiny.closed);
    EXPECT_FALSE(aviWriteFrame(w, nullptr, 0, 0, 1));

    ASSERT_TRUE(aviOpen(w, aviMemorySink(&one), 16, 16, false));
    EXPECT_FALSE(aviOpen(w, aviMemorySink(&two), 16, 16, false));
    EXPECT_FALSE(one.closed);
    aviClose(w);
    EXPECT_TRUE(one.closed);
    EXPECT_TRUE(aviClose(w));  // nothing open: nothing to do
}

}  // namespace
