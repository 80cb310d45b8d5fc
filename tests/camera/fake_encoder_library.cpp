// Stand-ins for the external encoder libraries, built three ways: with the creation function of
// "JPEGENC.dll", with the entry point of "scr_cap.dll", or with neither. Each entry answers with a
// number that tells which library it came from.
#include <cstdint>

struct ImageEncoder;

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef LUMO_FAKE_JPEGENC
TEST_EXPORT uint32_t gCreateJpegImageEncoder(ImageEncoder**, const uint32_t*, uint32_t) {
    return 0x11;
}
#endif

#ifdef LUMO_FAKE_SCRCAP
TEST_EXPORT uint32_t scr_cap(ImageEncoder**, const uint32_t*, uint32_t) {
    return 0x22;
}
#endif

TEST_EXPORT uint32_t fakeEncoderLibrary() {
    return 1;
}
