// Finishing a cut movie.
//
// What is trusted: the chunks from offset 348 on, each a "00dc" or "01wb" FOURCC with an exact
// size, as far as they lie wholly inside the file; the journal's entries, in order, as long as
// each names such a chunk with its id and even size (an entry is journalled after its chunk, so
// the journal can only lag the chunks). The format comes from the journal's header, else from
// the movie's own header (true since the movie was opened).
//
// What is written, in this order so that a failure leaves the movie as it was: the index after
// the last chunk it covers, a JUNK chunk over whatever bytes follow it (the remains of a chunk
// that was being written), and last the header. Nothing is truncated: the file keeps its size,
// or grows by at most the index and an 8-byte JUNK header.
#include "media/avi_repair.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/avi_writer.h"

namespace {

constexpr uint32_t kVideoKeyFlags = kAviKeyFrame;
constexpr uint32_t kMaxMovieBytes = 0x7FFFFFFF;  // offsets are read with long

uint32_t get16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

uint32_t get32(const uint8_t* p) {
    return get16(p) | get16(p + 2) << 16;
}

void put32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

constexpr uint32_t even(uint32_t size) {
    return size + (size & 1);
}

bool readAt(std::FILE* file, uint32_t offset, void* data, size_t size) {
    return std::fseek(file, long(offset), SEEK_SET) == 0 && std::fread(data, 1, size, file) == size;
}

bool writeAt(std::FILE* file, uint32_t offset, const void* data, size_t size) {
    return std::fseek(file, long(offset), SEEK_SET) == 0 &&
           std::fwrite(data, 1, size, file) == size;
}

struct Chunk {
    uint32_t id;
    uint32_t offset;  // file offset of the chunk header
    uint32_t size;    // exact data size
};

// The facts of the movie's own header, our layout only: "RIFF" "AVI ", the main header at 24,
// the "movi" list at 336. False for anything else.
bool readOwnHeader(const uint8_t* h, AviMovieFacts* facts) {
    if (get32(h) != aviFourcc("RIFF") || get32(h + 8) != aviFourcc("AVI ") ||
        get32(h + 24) != aviFourcc("avih") || get32(h + 336) != aviFourcc("LIST") ||
        get32(h + kAviMoviOffset) != aviFourcc("movi"))
        return false;
    facts->microsPerFrame = get32(h + 32);
    facts->width = get32(h + 64);
    facts->height = get32(h + 68);
    if (get32(h + 212) == aviFourcc("LIST") && get32(h + 232) == aviFourcc("auds")) {
        facts->formatTag = uint16_t(get16(h + 296));
        facts->channels = uint16_t(get16(h + 298));
        facts->samplesPerSec = get32(h + 300);
        facts->bitsPerSample = uint16_t(get16(h + 310));
    }
    return true;
}

bool readJournalHeader(const uint8_t* j, AviMovieFacts* facts) {
    if (get32(j) != kAviJournalMagic || get32(j + 4) != kAviJournalVersion) return false;
    facts->microsPerFrame = get32(j + 8);
    facts->width = get32(j + 12);
    facts->height = get32(j + 16);
    facts->formatTag = uint16_t(get16(j + 20));
    facts->channels = uint16_t(get16(j + 22));
    facts->samplesPerSec = get32(j + 24);
    facts->bitsPerSample = uint16_t(get16(j + 28));
    return true;
}

// Every whole chunk from the end of the header on, up to the first that is not a movie chunk or
// does not fit in the file.
std::vector<Chunk> scanChunks(std::FILE* file, uint32_t fileBytes) {
    std::vector<Chunk> chunks;
    uint32_t at = kAviHeaderBytes;
    uint8_t head[kAviChunkHeaderBytes];
    while (uint64_t{at} + kAviChunkHeaderBytes <= fileBytes &&
           readAt(file, at, head, sizeof head)) {
        const uint32_t id = get32(head), size = get32(head + 4);
        if (id != kAviVideoChunk && id != kAviSoundChunk) break;
        const uint64_t end = uint64_t{at} + kAviChunkHeaderBytes + even(size);
        if (size > fileBytes || end > fileBytes) break;
        chunks.push_back(Chunk{id, at, size});
        at = uint32_t(end);
    }
    return chunks;
}

const Chunk* chunkAt(const std::vector<Chunk>& chunks, uint32_t offset) {
    const auto it = std::lower_bound(chunks.begin(), chunks.end(), offset,
                                     [](const Chunk& c, uint32_t o) { return c.offset < o; });
    return it != chunks.end() && it->offset == offset ? &*it : nullptr;
}

AviRepairReport refuse(AviRepairOutcome outcome, std::string problem) {
    AviRepairReport report;
    report.outcome = outcome;
    report.problem = std::move(problem);
    return report;
}

}  // namespace

AviRepairReport aviRepair(std::FILE* movie, std::FILE* journal) {
    if (std::fseek(movie, 0, SEEK_END) != 0)
        return refuse(AviRepairOutcome::ReadFailed, "cannot seek");
    const long length = std::ftell(movie);
    if (length < 0) return refuse(AviRepairOutcome::ReadFailed, "cannot tell its size");
    if (length > long{kMaxMovieBytes})
        return refuse(AviRepairOutcome::NotUnderstood, "larger than any movie this writer makes");
    const uint32_t fileBytes = uint32_t(length);
    if (fileBytes < kAviHeaderBytes)
        return refuse(AviRepairOutcome::NotUnderstood, "shorter than an AVI header (348 bytes)");
    uint8_t header[kAviHeaderBytes];
    if (!readAt(movie, 0, header, sizeof header))
        return refuse(AviRepairOutcome::ReadFailed, "cannot read its header");

    AviMovieFacts facts;
    const bool ownHeader = readOwnHeader(header, &facts);
    if (ownHeader) {
        // Complete: the movie list ends where an "idx1" chunk begins and the RIFF size is the
        // file's (a finished movie, or one finished before).
        const uint64_t moviEnd = uint64_t{kAviMoviOffset} + get32(header + 340);
        uint8_t tag[4];
        if ((get32(header + 44) & kAviFlagsIndexed) == kAviFlagsIndexed &&
            uint64_t{get32(header + 4)} + kAviChunkHeaderBytes == fileBytes &&
            moviEnd + kAviChunkHeaderBytes <= fileBytes &&
            readAt(movie, uint32_t(moviEnd), tag, sizeof tag) && get32(tag) == aviFourcc("idx1"))
            return refuse(AviRepairOutcome::AlreadyComplete, "it already has its index");
    }

    std::vector<uint8_t> journalBytes;
    bool haveJournal = false;
    std::string journalProblem;
    if (journal != nullptr) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, journal)) != 0)
            journalBytes.insert(journalBytes.end(), buffer, buffer + n);
        AviMovieFacts journalFacts;
        haveJournal = journalBytes.size() >= kAviJournalHeaderBytes &&
                      readJournalHeader(journalBytes.data(), &journalFacts);
        if (haveJournal) {
            facts = journalFacts;
        } else {
            journalProblem = "its journal is not one this writer makes";
        }
    }
    if (!ownHeader && !haveJournal)
        return refuse(AviRepairOutcome::NotUnderstood,
                      "not a movie recorded by Lumovatrix (no RIFF AVI header with its movie list "
                      "at 336, and no journal)");

    const std::vector<Chunk> chunks = scanChunks(movie, fileBytes);
    std::vector<IndexEntry> index;
    if (haveJournal) {
        const size_t entries = (journalBytes.size() - kAviJournalHeaderBytes) / sizeof(IndexEntry);
        for (size_t i = 0; i < entries; ++i) {
            IndexEntry e;
            std::memcpy(&e, &journalBytes[kAviJournalHeaderBytes + i * sizeof e], sizeof e);
            const Chunk* c = chunkAt(chunks, e.offset + kAviMoviOffset);
            if (c == nullptr || c->id != e.chunkId || even(c->size) != e.size) break;
            index.push_back(e);
        }
    } else {
        for (const Chunk& c : chunks)
            index.push_back(IndexEntry{c.id, c.id == kAviVideoChunk ? kVideoKeyFlags : 0,
                                       c.offset - kAviMoviOffset, even(c.size)});
    }
    if (!ownHeader && chunks.empty())
        return refuse(AviRepairOutcome::NotUnderstood,
                      "its header is not an AVI header and no movie chunk follows it");

    // The counts the header needs, from the entries kept.
    AviRepairReport report;
    report.exact = haveJournal;
    report.problem = journalProblem;
    uint32_t moviEnd = kAviHeaderBytes;
    uint32_t lastPicture = 0;
    for (const IndexEntry& e : index) {
        const Chunk* c = chunkAt(chunks, e.offset + kAviMoviOffset);
        moviEnd = std::max(moviEnd, c->offset + kAviChunkHeaderBytes + even(c->size));
        if (e.chunkId == kAviVideoChunk) {
            report.videoEntries += 1;
            // Pictures are stored in file order; an entry at or before the last one is a repeat.
            if (c->offset > lastPicture) report.pictures += 1;
            lastPicture = std::max(lastPicture, c->offset);
        } else {
            report.soundBytes += c->size;
        }
    }
    if (report.soundBytes != 0 && facts.channels == 0) {
        // A header refreshed before the first sound chunk, no journal: the writer's one format.
        facts.formatTag = 1;
        facts.channels = 1;
        facts.samplesPerSec = 8000;
        facts.bitsPerSample = 16;
    }
    facts.handler = aviFourcc("mjpg");
    facts.videoEntries = report.videoEntries;
    facts.soundBytes = report.soundBytes;
    report.microsPerFrame = facts.microsPerFrame;

    // The index, then a JUNK chunk over the rest of the file, then the header.
    const uint32_t indexBytes = uint32_t(index.size() * sizeof(IndexEntry));
    std::vector<uint8_t> tail(kAviChunkHeaderBytes + indexBytes);
    put32(tail.data(), aviFourcc("idx1"));
    put32(tail.data() + 4, indexBytes);
    if (indexBytes != 0) std::memcpy(tail.data() + kAviChunkHeaderBytes, index.data(), indexBytes);
    const uint32_t indexEnd = moviEnd + uint32_t(tail.size());
    uint32_t fileEnd = indexEnd;
    if (fileBytes > indexEnd) {
        const uint32_t rest = fileBytes - indexEnd;
        const uint32_t junkSize =
            rest < kAviChunkHeaderBytes ? 0 : (rest - kAviChunkHeaderBytes) & ~1u;
        uint8_t junk[kAviChunkHeaderBytes];
        put32(junk, aviFourcc("JUNK"));
        put32(junk + 4, junkSize);
        tail.insert(tail.end(), junk, junk + sizeof junk);
        fileEnd = std::max(fileBytes, indexEnd + kAviChunkHeaderBytes);
    }
    report.droppedBytes = fileBytes - std::min(fileBytes, moviEnd);
    const bool repeats = report.videoEntries > report.pictures;
    aviBuildHeader(facts, moviEnd, fileEnd, repeats ? kAviFlagsRepeats : kAviFlagsIndexed, header);
    if (!writeAt(movie, moviEnd, tail.data(), tail.size()) || std::fflush(movie) != 0) {
        report.outcome = AviRepairOutcome::WriteFailed;
        report.problem = "cannot write its index (is the disk full?)";
        return report;
    }
    if (!writeAt(movie, 0, header, sizeof header) || std::fflush(movie) != 0) {
        report.outcome = AviRepairOutcome::WriteFailed;
        report.problem = "cannot write its header";
        return report;
    }
    report.outcome = AviRepairOutcome::Finished;
    return report;
}
