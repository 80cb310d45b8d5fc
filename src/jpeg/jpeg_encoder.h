// The application's JPEG entry: every photo, movie frame, webcam frame and BMP photo passes
// through encodeFrame, which works on the process-wide EncoderSetup and takes one of three paths:
// the built-in encoder (encoder.h), the optional external library "JPEGENC.dll"
// (image_encoder.h), or, at quality 0, the raw path that only turns the frame into planar I420
// for the BMP writer.
#pragma once

#include <cstdint>

#include "jpeg/encoder.h"
#include "jpeg/image_encoder.h"

// Fields in this order. Constant between configureEncoder calls; configured on the window thread
// while no capture runs, read by the capture thread while one does.
struct EncoderSetup {
    uint32_t format;    // effective ChromaFormat: 1 whenever quality is 0; 4:2:2 turned is 4:2:0
    uint32_t rotation;  // quarter turns 0..3
    uint8_t available;  // 1 when the built-in encoder or the external library can be used
    uint32_t width;     // output picture before rotation, pixels
    uint32_t height;
    uint32_t scaleX;  // source pixels per output pixel, 1 or 2
    uint32_t scaleY;
    uint32_t quality;               // 1..100, or 0 for the raw path
    JpegEncoder* encoder;           // the built-in encoder, or null
    ImageEncoder* externalEncoder;  // the external library's object, or null
};

extern EncoderSetup gEncoderSetup;

// The external library's creation function, null when no library was loaded (filled at start-up
// by the library loader).
extern CreateJpegImageEncoderFn gCreateJpegImageEncoder;

// Prepares the setup for a capture; 1 on success, 0 on failure. With the built-in encoder and a
// quality of at least 1, configures it and marks its headers for rewriting. Otherwise stores the
// settings and, for the external path, (re)creates the external object when they changed, or when
// no object exists yet.
uint32_t configureEncoder(EncoderSetup& setup, uint32_t width, uint32_t height, uint32_t quality,
                          uint32_t format, uint32_t scaleX, uint32_t scaleY, uint32_t rotation);

// Encodes `source`, a frame of (width x scaleX) by (height x scaleY) pixels in the layout
// gFrame.frameFormat names, into `output`, which holds at least as many bytes as the frame.
// Returns the JPEG length in bytes; 1 for the raw path (an I420 picture at `output`); 0 when
// nothing was encoded. An RGB frame is converted to Uyvy in place on the raw and external paths,
// and the external path also uses the source frame's memory for the library's output.
// `forceHeaders` 1 rewrites the JFIF headers (single photos); 0 lets a sequence reuse the header
// bytes already at `output`.
uint32_t encodeFrame(EncoderSetup& setup, uint8_t* output, uint8_t* source, uint32_t forceHeaders);

// Releases the external object, if any (at exit).
void releaseExternalEncoder(EncoderSetup& setup);
