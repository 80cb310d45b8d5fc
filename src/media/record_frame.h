// The movie branch of the frame consumer, and the movie's start as the command dispatcher makes
// it: the file opened through the platform, the writer started on it.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// Opens the movie file at the device path `path` and starts the movie writer on it, with the
// process's sound capture as its sound source. False when the file cannot be created or the
// writer refuses it (no frame period set, a movie already open, the header placeholder not
// written).
bool openMovie(const WCHAR* path, uint32_t width, uint32_t height, bool withSound);

// Closes the open movie ("Save movie", "View in Album", shutdown; `keep` false for "Don't save
// movie", which deletes it). A movie whose index or header could not be written keeps its
// journal, and the user is told that the next start finishes it.
void closeMovie(bool keep);

// The note naming the movie being recorded: a file in the program's folder.
constexpr const WCHAR* kMovieNoteName = u"Movie.unfinished";

// At start-up: keeps `notePath` (the note's path) for the movies to come, and finishes a movie
// whose recording was cut off (power loss, a full or removed card), named by the note left
// there, from its journal. Says so on the message line and in the debug log.
void finishUnfinishedMovie(const WCHAR* notePath);

// One camera frame of a running recording (capture thread): the ticks that have passed are
// filled with the picture at hand, then the frame is encoded (when it differs from the last
// stored one) and becomes the picture at hand. `checksum` is the frame's checksum in the
// screen-capture edition, 0 otherwise. When a write fails or the movie reaches the free space
// there was at its start, the recording pauses and the movie choice page opens.
void recordFrame(uint8_t* pixels, uint32_t checksum);

// The action key's pause of a running recording (window thread): the activity goes from Active
// to Choosing and the movie choice page opens; the file stays open and the capture thread adds
// no frames while the activity is not Active. False when no recording was active.
bool pauseRecording();
// The capture thread's way to pause a recording that cannot go on (a failed write, the card
// full): the same pause as the action key's, but only while the recording is still active, so
// a stop the user made meanwhile is never turned into anything else. True when it paused.
bool pauseRecordingFromCapture();
