// Finishing a movie that was cut off (power loss, a full or removed card, a killed receiver):
// the chunks up to the last whole one are kept, the index is rebuilt and the header made true.
// With the movie's journal the index is exactly the one the writer had made (repeats included);
// without it every chunk gets one entry and the timing is approximate. Standard library only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum class AviRepairOutcome {
    Finished,         // index and header written
    AlreadyComplete,  // the movie has its index: nothing written
    NotUnderstood,    // not a movie this writer makes: nothing written
    ReadFailed,       // nothing written
    WriteFailed,      // the header is untouched; the movie can be finished again later
};

struct AviRepairReport {
    AviRepairOutcome outcome = AviRepairOutcome::NotUnderstood;
    bool exact = false;         // the index came from the journal
    uint32_t videoEntries = 0;  // frames (stored pictures and repeats)
    uint32_t pictures = 0;      // stored picture chunks
    uint32_t soundBytes = 0;    // bytes of sound
    uint32_t microsPerFrame = 0;
    uint32_t droppedBytes = 0;  // bytes after the last whole chunk the index covers
    std::string problem;        // why, when not Finished
};

// `movie` is open for reading and writing ("r+b"), `journal` for reading or null. Reads all it
// needs before writing anything; writes only into `movie`.
AviRepairReport aviRepair(std::FILE* movie, std::FILE* journal);
