// The recording step of a movie, on the capture thread.
#include "media/record_frame.h"

#include <mutex>

#include "core/app_state.h"
#include "core/preview_state.h"
#include "jpeg/jpeg_encoder.h"
#include "media/audio_capture.h"
#include "media/avi_writer.h"
#include "media/storage.h"
#include "settings/settings_model.h"

bool openMovie(const WCHAR* path, uint32_t width, uint32_t height, bool withSound) {
    AviWriter& w = gAviWriter;
    // The movie's pictures are encoded into the photo buffer, one after another in the same
    // place, so a sequence can keep the header bytes written with its first picture.
    w.moviePicture = gApp.photoImage.pixels;
    w.moviePictureSize = 0;
    w.sound = soundSourceOf(gAudioCapture);
    if (!w.moviePicture) return false;
    std::FILE* file = _wfopen(path, u"wb");
    if (!file) return false;
    return aviOpen(w, aviFileSink(file), width, height, withSound);
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
