// The recording step of a movie, on the capture thread.
#include "media/record_frame.h"

#include <cstring>
#include <mutex>
#include <string>

#include "core/app_state.h"
#include "core/preview_state.h"
#include "jpeg/jpeg_encoder.h"
#include "media/audio_capture.h"
#include "media/avi_repair.h"
#include "media/avi_writer.h"
#include "media/storage.h"
#include "settings/settings_model.h"

namespace {

// While a movie is recorded, a note in the program's folder names it (its device path, UTF-16),
// and its journal lies beside it. A normal close deletes both; a start that finds the note
// finishes the movie it names. The note's path, given at start-up.
WCHAR gNotePath[MAX_PATH] = {};
constexpr const char* kMovieRecoveredMessage = "Movie recovered";
constexpr const char* kMovieWriteFailedMessage = "Cannot write movie";
constexpr const char* kMovieKeptMessage = "Movie kept, finished at next start";
constexpr uint32_t kMovieMessageMs = 3000;

struct MovieJournal {
    std::FILE* file = nullptr;
    WCHAR path[MAX_PATH] = {};      // the journal
    WCHAR notePath[MAX_PATH] = {};  // the note naming the movie
};
MovieJournal gJournal;  // one movie at a time

// `out` = `path` followed by the journal suffix; false when that does not fit.
bool journalPathOf(const WCHAR* path, WCHAR* out) {
    const size_t length = wcslen16(path), suffix = sizeof kAviJournalSuffix - 1;
    if (length + suffix >= MAX_PATH) return false;
    std::memcpy(out, path, length * sizeof(WCHAR));
    for (size_t i = 0; i <= suffix; ++i) out[length + i] = WCHAR(kAviJournalSuffix[i]);
    return true;
}

void copyPath(WCHAR* out, const WCHAR* path) {
    const size_t length = std::min<size_t>(wcslen16(path), MAX_PATH - 1);
    std::memcpy(out, path, length * sizeof(WCHAR));
    out[length] = 0;
}

void logLine(const std::u16string& text) {
    OutputDebugStringW(text.c_str());
}

uint32_t journalWrite(void* context, const void* data, uint32_t size) {
    auto* j = static_cast<MovieJournal*>(context);
    return std::fwrite(data, 1, size, j->file) == size && std::fflush(j->file) == 0;
}

uint32_t journalSeek(void* context, uint32_t offset) {
    return std::fseek(static_cast<MovieJournal*>(context)->file, long(offset), SEEK_SET) == 0;
}

void journalClose(void* context) {
    auto* j = static_cast<MovieJournal*>(context);
    std::fclose(j->file);
    j->file = nullptr;
}

void journalDiscard(void* context) {
    auto* j = static_cast<MovieJournal*>(context);
    journalClose(context);
    DeleteFileW(j->path);
    DeleteFileW(j->notePath);
}

constexpr AviSinkOps kJournalOps = {
    .write = journalWrite,
    .seek = journalSeek,
    .close = journalClose,
    .discard = journalDiscard,
};

// Writes the note naming the movie; false when it cannot be written.
bool writeNote(const WCHAR* notePath, const WCHAR* moviePath) {
    std::FILE* note = _wfopen(notePath, u"wb");
    if (!note) return false;
    const size_t bytes = wcslen16(moviePath) * sizeof(WCHAR);
    const bool written = std::fwrite(moviePath, 1, bytes, note) == bytes;
    return std::fclose(note) == 0 && written;
}

}  // namespace

bool openMovie(const WCHAR* path, uint32_t width, uint32_t height, bool withSound) {
    AviWriter& w = gAviWriter;
    // The movie's pictures are encoded into the photo buffer, one after another in the same
    // place, so a sequence can keep the header bytes written with its first picture.
    w.moviePicture = gApp.photoImage.pixels;
    w.moviePictureSize = 0;
    w.sound = soundSourceOf(gAudioCapture);
    if (!w.moviePicture || w.file.ops) return false;
    MovieJournal& j = gJournal;
    if (!journalPathOf(path, j.path)) return false;
    copyPath(j.notePath, gNotePath);
    std::FILE* file = _wfopen(path, u"wb");
    if (!file) return false;
    j.file = _wfopen(j.path, u"wb");
    if (!j.file) {
        // No room for the journal beside the movie: no room for the movie either.
        std::fclose(file);
        DeleteFileW(path);
        setOsdMessage(kMovieWriteFailedMessage, kMovieMessageMs);
        return false;
    }
    // Without the note the movie is still recorded; a cut one is then finished by lumo-avifix.
    if (!j.notePath[0] || !writeNote(j.notePath, path))
        logLine(u"cannot write the note naming the movie");
    return aviOpen(w, aviFileSink(file), AviSink{&kJournalOps, &j}, width, height, withSound);
}

void closeMovie(bool keep) {
    AviWriter& w = gAviWriter;
    if (!w.file.ops) return;
    aviClose(w);
    if (w.finished) return;  // its journal and note went with it
    if (!keep) {             // the movie is deleted: nothing to finish
        DeleteFileW(gJournal.path);
        DeleteFileW(gJournal.notePath);
        return;
    }
    setOsdMessage(kMovieKeptMessage, kMovieMessageMs);
    logLine(u"movie " + std::u16string(gApp.lastFilePath ? gApp.lastFilePath : u"") +
            u" kept without its index: it is finished at the next start");
}

void finishUnfinishedMovie(const WCHAR* notePathOfProgram) {
    copyPath(gNotePath, notePathOfProgram);
    WCHAR notePath[MAX_PATH], moviePath[MAX_PATH] = {}, journalPath[MAX_PATH];
    copyPath(notePath, gNotePath);
    std::FILE* note = _wfopen(notePath, u"rb");
    if (!note) return;
    const size_t units = std::fread(moviePath, sizeof(WCHAR), MAX_PATH - 1, note);
    std::fclose(note);
    moviePath[units] = 0;
    const std::u16string name(moviePath);
    if (units == 0 || !journalPathOf(moviePath, journalPath)) {
        DeleteFileW(notePath);
        return;
    }
    std::FILE* movie = _wfopen(moviePath, u"r+b");
    std::FILE* journal = _wfopen(journalPath, u"rb");
    if (!movie) {
        // Deleted, or on a card that is not in: kept for a start that finds it.
        if (journal) std::fclose(journal);
        logLine(u"unfinished movie " + name + u" not found");
        if (!journal) DeleteFileW(notePath);
        return;
    }
    const AviRepairReport r = aviRepair(movie, journal);
    std::fclose(movie);
    if (journal) std::fclose(journal);
    switch (r.outcome) {
        case AviRepairOutcome::Finished: {
            const uint32_t tenths = uint32_t(uint64_t{r.videoEntries} * r.microsPerFrame / 100000);
            const std::string counts = std::to_string(r.videoEntries) + " frames, " +
                                       std::to_string(tenths / 10) + "." +
                                       std::to_string(tenths % 10) + " s";
            logLine(u"finished the movie " + name + u" cut off while recording: " +
                    std::u16string(counts.begin(), counts.end()) +
                    (r.exact ? u"" : u" (no journal: timing approximate)"));
            // Set at start-up, before any frame: its time runs from now, not from the last
            // frame's tick (none yet), so the first frames show it.
            setOsdMessage(kMovieRecoveredMessage, kMovieMessageMs);
            gApp.osdMessageStart.store(GetTickCount(), std::memory_order_relaxed);
            break;
        }
        case AviRepairOutcome::AlreadyComplete:
            break;
        case AviRepairOutcome::NotUnderstood:
            logLine(u"cannot finish the movie " + name + u": " +
                    std::u16string(r.problem.begin(), r.problem.end()));
            break;
        case AviRepairOutcome::ReadFailed:
        case AviRepairOutcome::WriteFailed:
            // Kept, note and journal too: a later start with room finishes it.
            logLine(u"cannot finish the movie " + name + u" now: " +
                    std::u16string(r.problem.begin(), r.problem.end()));
            setOsdMessage(kMovieKeptMessage, kMovieMessageMs);
            gApp.osdMessageStart.store(GetTickCount(), std::memory_order_relaxed);
            return;
    }
    DeleteFileW(journalPath);
    DeleteFileW(notePath);
}

void recordFrame(uint8_t* pixels, uint32_t checksum) {
    AviWriter& w = gAviWriter;
    const uint32_t now = frameStartTick.load(std::memory_order_relaxed);
    // The first frame after opening or resuming starts the movie clock: the sound is made to
    // start with it.
    if (w.ticksSinceResume.load(std::memory_order_relaxed) == 0 &&
        w.soundOn.load(std::memory_order_relaxed))
        alignSoundStart(gAudioCapture, now);

    bool ok = aviWriteFrame(w, w.moviePicture, w.moviePictureSize, now, 1);
    if (ok) {
        // A movie's first picture is encoded even when the screen looks unchanged: the writer
        // always stores it, and the checksum it would match belongs to an earlier movie or is
        // the start value 0, which many screens give (each word of a symmetric picture cancels
        // out in the exclusive-or).
        if ((w.pictureChanged || w.moviePictureSize == 0) && frameFitsEncoder(gEncoderSetup))
            w.moviePictureSize = encodeFrame(gEncoderSetup, w.moviePicture, pixels, 0);
        w.currentChecksum.store(checksum, std::memory_order_relaxed);
        ok = aviWriteFrame(w, w.moviePicture, w.moviePictureSize, now, 0);
    }
    bool full;
    {
        std::lock_guard<std::mutex> lock(w.fileLock);
        full = w.sizeEstimate > gApp.freeSpaceMargin;
    }
    if (!ok) setOsdMessage(kMovieWriteFailedMessage, kMovieMessageMs);
    if (!ok || full) pauseRecordingFromCapture();
}

bool pauseRecording() {
    int32_t expected = Active;
    if (!gApp.activity.compare_exchange_strong(expected, Choosing)) return false;
    showChoicePage(kPageMovieChoice);
    return true;
}

bool pauseRecordingFromCapture() {
    return pauseRecording();
}
