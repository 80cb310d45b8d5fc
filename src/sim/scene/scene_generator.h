// The simulated camera's view: a moving, recognisable test scene rendered at any sensor size in
// packed 4:2:2 (Cb, Y0, Cr, Y1 per pixel pair, BT.601 studio levels). Standard library only; every
// simulated camera (the OEM library, the "LCM1:" and "DSC1:" drivers) renders its frames with it.
//
// The picture, top to bottom: eight colour bars (white, yellow, cyan, green, magenta, red, blue,
// black); a detail band with line pairs of 1, 2 and 4 pixels (vertical and horizontal) on the left
// and a zone plate on the right; a gray ramp from black to white. Over it: an orange disk that
// crosses the detail band and back every 4 seconds, the frame number as six digits in a black box
// at the bottom left, and, while sceneMarkerVisible(tick), a white square in the top-right corner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Once a second the scene shows a short bright marker; the simulated microphone beeps in the same
// window, so a recording can be checked for drift between sound and picture. Times are device
// ticks in milliseconds.
constexpr uint32_t kSceneMarkerPeriodMs = 1000;
constexpr uint32_t kSceneMarkerLengthMs = 100;
constexpr bool sceneMarkerVisible(uint32_t tickMs) {
    return tickMs % kSceneMarkerPeriodMs < kSceneMarkerLengthMs;
}

// The disk crosses the picture and comes back in this time.
constexpr uint32_t kSceneDiskPeriodMs = 4000;

// The still scene, for comparing what two builds make of one script (scripts/compare-outputs.sh):
// with LUMO_STILL_SCENE set (to anything but "" or "0") every frame is frame 0 at this tick (the
// disk a quarter of its way, no marker), the microphone hears the plain tone and the home screen's
// clock stands at 0, so a picture or a sound no longer depends on when it was taken. Read once;
// normal runs never set it.
constexpr uint32_t kSceneStillTickMs = 500;
static_assert(!sceneMarkerVisible(kSceneStillTickMs));
bool sceneStill();

// The camera's picture effects (SceneLook::effect).
enum SceneEffect : uint32_t {
    SceneEffectNormal = 1,
    SceneEffectGrayscale = 2,
    SceneEffectSepia = 4,
    SceneEffectCool = 8,
    SceneEffectNegative = 16,
};

// How the camera's picture settings change the rendered picture. Neutral values leave it as is.
// The marker and the frame counter are drawn after the look, so they stay readable.
struct SceneLook {
    int brightness = 0;                   // added to luma, -128..127
    int contrastQ8 = 256;                 // luma gain around 128, 256 = 1.0
    int saturationQ8 = 256;               // chroma gain around 128, 256 = 1.0
    int hueDegrees = 0;                   // chroma rotation
    uint32_t effect = SceneEffectNormal;  // a SceneEffect
    bool night = false;                   // brighter, noisier, desaturated
};

// Where the parts of the scene are, in pixels; fixed by sceneInit for the sensor size.
struct SceneLayout {
    uint32_t barsHeight = 0;  // rows of colour bars from the top
    uint32_t detailTop = 0;   // first row of the detail band
    uint32_t detailHeight = 0;
    uint32_t rampTop = 0;  // first row of the gray ramp
    uint32_t diskRadius = 0;
    uint32_t digitScale = 0;  // pixels per dot of the 3 x 5 digits
    uint32_t markerSize = 0;  // side of the marker square (even)
};

struct SceneGenerator {
    uint32_t width = 0, height = 0;  // pixels; width even
    SceneLayout layout;
    std::vector<uint8_t> background;  // the static part, rendered once per size (UYVY)
    std::vector<int8_t> noise;        // night-mode sensor noise, luma offsets
};

// Prepares the generator for a sensor size (width rounded down to even). Allocates; never called
// per frame. Returns false for a zero size.
bool sceneInit(SceneGenerator& scene, uint32_t width, uint32_t height);

// Renders frame `frameNumber` at device tick `tickMs` into `uyvy` (width x height x 2 bytes).
// No allocation: the static background is copied (through the look), then the moving parts are
// drawn over it. Does nothing before sceneInit has succeeded.
void sceneRender(const SceneGenerator& scene, uint8_t* uyvy, uint32_t frameNumber, uint32_t tickMs,
                 const SceneLook& look);

// Passes a picture that did not come from the scene (a host camera's frame, packed 4:2:2 like the
// scene, `bytes` a multiple of 4) through the same look, in place, so the picture settings change
// it exactly as they change the scene. Night mode's noise needs sceneInit to have succeeded.
void sceneApplyLook(const SceneGenerator& scene, uint8_t* uyvy, size_t bytes, uint32_t frameNumber,
                    const SceneLook& look);
