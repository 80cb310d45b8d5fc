#include "media/avi_sink.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

uint32_t fileWrite(void* context, const void* data, uint32_t size) {
    auto* file = static_cast<std::FILE*>(context);
    if (size != 0 && std::fwrite(data, 1, size, file) != size) return 0;
    return std::fflush(file) == 0;
}

uint32_t fileSeek(void* context, uint32_t offset) {
    // Movie files stay below 2,000,000,000 bytes, so every offset fits a long.
    return std::fseek(static_cast<std::FILE*>(context), static_cast<long>(offset), SEEK_SET) == 0;
}

void fileClose(void* context) {
    std::fclose(static_cast<std::FILE*>(context));
}

constexpr AviSinkOps kFileSinkOps = {
    .write = fileWrite,
    .seek = fileSeek,
    .close = fileClose,
};

// A journal file knows its path so that it can delete itself.
struct JournalFile {
    std::FILE* file;
    std::string path;
};

uint32_t journalWrite(void* context, const void* data, uint32_t size) {
    return fileWrite(static_cast<JournalFile*>(context)->file, data, size);
}

uint32_t journalSeek(void* context, uint32_t offset) {
    return fileSeek(static_cast<JournalFile*>(context)->file, offset);
}

void journalClose(void* context) {
    auto* journal = static_cast<JournalFile*>(context);
    std::fclose(journal->file);
    delete journal;
}

void journalDiscard(void* context) {
    auto* journal = static_cast<JournalFile*>(context);
    std::fclose(journal->file);
    std::remove(journal->path.c_str());
    delete journal;
}

constexpr AviSinkOps kJournalSinkOps = {
    .write = journalWrite,
    .seek = journalSeek,
    .close = journalClose,
    .discard = journalDiscard,
};

uint32_t memoryWrite(void* context, const void* data, uint32_t size) {
    auto* file = static_cast<AviMemoryFile*>(context);
    const uint64_t wanted = uint64_t{file->position} + size;
    const uint64_t end = std::min<uint64_t>(wanted, file->failAfter);
    const uint32_t fits = end > file->position ? static_cast<uint32_t>(end - file->position) : 0;
    // A seek past the end followed by a write leaves a zero-filled gap, as in a real file.
    if (fits != 0) {
        if (file->bytes.size() < end) file->bytes.resize(end);
        std::memcpy(file->bytes.data() + file->position, data, fits);
        file->position += fits;
    }
    return fits == size;
}

uint32_t memorySeek(void* context, uint32_t offset) {
    auto* file = static_cast<AviMemoryFile*>(context);
    if (file->failSeeks) return 0;
    file->position = offset;
    return 1;
}

void memoryClose(void* context) {
    static_cast<AviMemoryFile*>(context)->closed = 1;
}

void memoryDiscard(void* context) {
    auto* file = static_cast<AviMemoryFile*>(context);
    file->closed = 1;
    file->discarded = 1;
}

constexpr AviSinkOps kMemorySinkOps = {
    .write = memoryWrite,
    .seek = memorySeek,
    .close = memoryClose,
    .discard = memoryDiscard,
};

}  // namespace

AviSink aviFileSink(std::FILE* file) {
    return AviSink{.ops = &kFileSinkOps, .context = file};
}

AviSink aviMemorySink(AviMemoryFile* file) {
    return AviSink{.ops = &kMemorySinkOps, .context = file};
}

AviSink aviJournalFileSink(const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return AviSink{};
    return AviSink{.ops = &kJournalSinkOps, .context = new JournalFile{file, path}};
}
