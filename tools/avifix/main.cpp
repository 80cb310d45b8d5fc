// lumo-avifix: finishes cut-off Lumovatrix movies in place.
//
//   lumo-avifix FILE...
//
// Each FILE is finished by aviRepair with its journal (FILE.journal) when there is one. One line
// per file on stdout; a file that cannot be finished gives one line on stderr naming it and why,
// and is left as it was. Exit status: 0 when every file is finished or was complete, 1 when one
// could not be, 2 for bad arguments.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/avi_repair.h"
#include "media/avi_writer.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFileError = 1;

const char kHelp[] =
    "usage: lumo-avifix FILE...\n"
    "\n"
    "Finishes AVI movies that Lumovatrix or lumo-receiver left unfinished (the device lost\n"
    "power, the card was full or removed, the receiver was killed), so that players read\n"
    "them with their right length. Each FILE is changed in place; nothing else is written.\n"
    "\n"
    "While a movie is recorded its index is kept in a journal beside it, FILE.journal. With\n"
    "the journal the movie is finished exactly: every picture and sound chunk that reached\n"
    "the file whole, timed as recorded. Without it every whole chunk gets one index entry and\n"
    "a line says the timing is approximate (pictures repeated while the camera was slower\n"
    "than the movie's frame rate are then shown once). The journal is read, never changed:\n"
    "delete it once the movie plays.\n"
    "\n"
    "A movie that already has its index is left alone. A file that is not a movie made by\n"
    "Lumovatrix is left untouched, with a line saying why.\n"
    "\n"
    "  --help            show this text\n"
    "\n"
    "Exit status: 0 every FILE finished or already complete, 1 a FILE could not be read,\n"
    "understood or written, 2 bad arguments.\n";

std::string seconds(uint32_t frames, uint32_t microsPerFrame) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(frames) * microsPerFrame / 1e6);
    return text;
}

// Finishes one movie; false when it could not.
bool fix(const std::string& path) {
    std::FILE* movie = std::fopen(path.c_str(), "r+b");
    if (movie == nullptr) {
        std::fprintf(stderr, "lumo-avifix: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const std::string journalPath = path + kAviJournalSuffix;
    std::FILE* journal = std::fopen(journalPath.c_str(), "rb");
    const AviRepairReport r = aviRepair(movie, journal);
    const bool closed = std::fclose(movie) == 0;
    if (journal != nullptr) std::fclose(journal);
    switch (r.outcome) {
        case AviRepairOutcome::Finished:
            if (!closed) break;
            std::printf("%s: finished, %u frames (%s s), %u pictures, %u bytes of sound%s\n",
                        path.c_str(), r.videoEntries,
                        seconds(r.videoEntries, r.microsPerFrame).c_str(), r.pictures, r.soundBytes,
                        r.droppedBytes ? ", a cut-off chunk dropped" : "");
            if (!r.exact)
                std::printf("%s: no journal (%s): one index entry per chunk, timing approximate\n",
                            path.c_str(),
                            r.problem.empty() ? journalPath.c_str() : r.problem.c_str());
            return true;
        case AviRepairOutcome::AlreadyComplete:
            std::printf("%s: already complete, left as it was\n", path.c_str());
            return true;
        default:
            break;
    }
    std::fprintf(stderr, "lumo-avifix: %s: %s\n", path.c_str(),
                 r.problem.empty() ? "cannot close the file" : r.problem.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!onlyFiles && a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (!onlyFiles && a == "--") {
            onlyFiles = true;
        } else if (!onlyFiles && a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "lumo-avifix: unknown option '%s' (see lumo-avifix --help)\n",
                         a.c_str());
            return kUsageError;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "lumo-avifix: no FILE given (see lumo-avifix --help)\n");
        return kUsageError;
    }
    bool all = true;
    for (const std::string& f : files) all = fix(f) && all;
    return all ? 0 : kFileError;
}
