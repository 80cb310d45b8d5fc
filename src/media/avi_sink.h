// Where the movie writer's bytes go: a table of three file operations with a context, and two
// implementations: a C stdio file (the application passes its own) and a memory file that can be
// made to run out of room, so tests need no disk. Standard library only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The operations the writer needs. Results are non-zero for success.
struct AviSinkOps {
    // Writes `size` bytes at the current position and moves past them. 0 when not every byte
    // reached the file (the position is then unknown to the caller).
    uint32_t (*write)(void* context, const void* data, uint32_t size);
    // Moves the position to `offset` bytes from the start of the file.
    uint32_t (*seek)(void* context, uint32_t offset);
    // Closes the file; the sink is not used afterwards.
    void (*close)(void* context);
    // Closes the file and deletes it (a journal no longer needed); null: only close.
    void (*discard)(void* context) = nullptr;
};

// A sink in use: `ops` is null when no file is open.
struct AviSink {
    const AviSinkOps* ops = nullptr;
    void* context = nullptr;
};

// A stdio file, closed with fclose. Each write is flushed at once, so a failure (a full disk) is
// reported by the write that caused it and never surfaces later in a chunk already counted.
AviSink aviFileSink(std::FILE* file);

// A journal file created at `path` (truncated), deleted again by `discard`; an empty sink when it
// cannot be created.
AviSink aviJournalFileSink(const char* path);

// A file held in memory. Like a full disk, it cannot grow beyond `failAfter` bytes: a write that
// would pass that size stores the bytes that fit and fails. Rewriting bytes below the limit (the
// header at close) still works. `failSeeks` makes every seek fail.
struct AviMemoryFile {
    std::vector<uint8_t> bytes;
    uint32_t position = 0;
    uint32_t failAfter = UINT32_MAX;
    uint8_t failSeeks = 0;
    uint8_t closed = 0;
    uint8_t discarded = 0;
};

// The memory file stays owned by the caller and outlives the sink; close only marks it closed.
AviSink aviMemorySink(AviMemoryFile* file);
