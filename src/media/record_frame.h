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

// At start-up: finishes a movie whose recording was cut off (power loss, a full or removed
// card), named by the note left in the program's folder, from its journal. Says so on the
// message line and in the debug log.
void finishUnfinishedMovie();

// One camera frame of a running recording (capture thread): the ticks that have passed are
// filled with the picture at hand, then the frame is encoded (when it differs from the last
// stored one) and becomes the picture at hand. `checksum` is the frame's checksum in the
// screen-capture edition, 0 otherwise. When a write fails or the movie reaches the free space
// there was at its start, the recording pauses and the movie choice page opens.
void recordFrame(uint8_t* pixels, uint32_t checksum);
