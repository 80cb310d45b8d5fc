// The simulated camera's view: a moving, recognisable test scene rendered at any sensor size in
// packed 4:2:2 (Cb, Y0, Cr, Y1 per pixel pair). Standard library only; every simulated camera
// (the OEM library, the "LCM1:" and "DSC1:" drivers) renders its frames with it.
#pragma once

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

// How the camera's picture settings change the rendered picture. Neutral values leave it as is.
struct SceneLook {
    int brightness = 0;        // added to luma, -128..127
    int contrastQ8 = 256;      // luma gain around 128, 256 = 1.0
    int saturationQ8 = 256;    // chroma gain around 128, 256 = 1.0
    int hueDegrees = 0;        // chroma rotation
    uint32_t effect = 1;       // 1 normal, 2 grayscale, 4 sepia, 8 cool, 16 negative
    bool night = false;        // brighter, noisier, desaturated
};

struct SceneGenerator {
    uint32_t width = 0, height = 0;  // pixels; width even
    std::vector<uint8_t> background;  // the static part, rendered once per size (UYVY)
};

// Prepares the generator for a sensor size (width rounded down to even). Allocates; never called
// per frame. Returns false for a zero size.
bool sceneInit(SceneGenerator& scene, uint32_t width, uint32_t height);

// Renders frame `frameNumber` at device tick `tickMs` into `uyvy` (width x height x 2 bytes).
// No allocation. The picture holds colour patches, fine detail (line pairs, a zone pattern), a
// shape that moves steadily with time, the frame counter as digits, and the marker while
// sceneMarkerVisible(tickMs).
void sceneRender(const SceneGenerator& scene, uint8_t* uyvy, uint32_t frameNumber, uint32_t tickMs,
                 const SceneLook& look);
