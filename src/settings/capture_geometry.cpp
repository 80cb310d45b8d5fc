// The capture geometry: which sensor resolution to stream and which window of it to keep, for the
// chosen picture size, aspect and zoom step.
//
// The zoom walks the capable rows of the size table from the smallest. A row qualifies when its
// 4:3 size is an integer multiple q of the target's 4:3 size in at least one direction (with
// the multiple limited so that both directions fit). Each qualifying row offers, when q is 2, its
// whole field at half sampling (a crop twice the output size, halved by the encoder and the
// preview), then a crop of the output size at full sampling. The zoom step counts these offers.
// The scale, sensor size over crop size, is 16.16 fixed point; the largest sensor width (1600)
// shifted by 16 still fits 32 bits.
#include "core/app_state.h"
#include "settings/camera_controller.h"
#include "settings/size_table.h"

static_assert(uint64_t{1600} << 16 <= UINT32_MAX, "sensor sizes shifted by 16 fit 32 bits");

namespace {

// The preview streams at most the camera's continuous size: the crop is scaled down by the same
// ratio and kept at multiples of 8 pixels.
void reduceForPreview(CaptureGeometry& g, uint32_t maxWidth, uint32_t maxHeight) {
    const uint32_t cropWidth = g.cropRight - g.cropLeft + 1;
    const uint32_t cropHeight = g.cropBottom - g.cropTop + 1;
    const uint32_t dW = (g.sensorWidth << 16) / cropWidth;    // 16.16
    const uint32_t dH = (g.sensorHeight << 16) / cropHeight;  // 16.16
    if (dW == 0 || dH == 0) return;
    g.sensorWidth = maxWidth;
    g.sensorHeight = maxHeight;
    g.outWidth = ((maxWidth << 16) / dW) & ~7u;
    g.outHeight = ((maxHeight << 16) / dH) & ~7u;
    g.cropLeft = ((maxWidth - g.outWidth) / 2) & ~7u;
    g.cropTop = ((maxHeight - g.outHeight) / 2) & ~7u;
    g.cropRight = g.cropLeft + g.outWidth - 1;
    g.cropBottom = g.cropTop + g.outHeight - 1;
    g.outLeft = 0;
    g.outTop = 0;
    g.outRight = g.cropRight - g.cropLeft;
    g.outBottom = g.outHeight - 1;
}

}  // namespace

bool computeCaptureGeometry(bool isPhoto, uint32_t kind, CaptureGeometry& stream,
                            CaptureGeometry& published) {
    CameraController& c = gController;
    const ValueList& sizes = isPhoto ? c.photoSize : c.videoSize;
    ValueList& zoom = isPhoto ? c.photoZoom : c.videoZoom;
    const uint8_t* capable = isPhoto ? gPhotoCapableRows : gVideoCapableRows;
    if (sizes.count <= 0) return false;
    const int32_t row = valueOf(sizes);
    if (row < 0 || row >= kSizeRows) return false;
    const PictureSize target = gSizeTable[row][0];
    if (target.width == 0 || target.height == 0) return false;

    int32_t steps = effectiveIndex(zoom);
    int chosen = -1;
    bool half = false;
    int lastQualifying = -1;
    for (int k = 0; k < kSizeRows && chosen < 0; ++k) {
        if (!capable[k]) continue;
        const PictureSize field = gSizeTable[k][0];
        uint32_t q = field.width / target.width;
        if (target.height * q > field.height) q = field.height / target.height;
        if (q == 0 || (target.width * q != field.width && target.height * q != field.height))
            continue;
        lastQualifying = k;
        if (q == 2) {
            if (steps == 0) {
                chosen = k;
                half = true;
                break;
            }
            --steps;
        }
        if (steps == 0)
            chosen = k;
        else
            --steps;
    }
    if (chosen < 0) {
        if (lastQualifying < 0) return false;
        // The zoom asked for more than the rows offer: the last row at full sampling, and the
        // list steps back by one.
        chosen = lastQualifying;
        half = false;
        int32_t back = effectiveIndex(zoom) - 1;
        if (back > zoom.count - 1) back = zoom.count - 1;
        if (back < 0) back = 0;
        zoom.current.store(back, std::memory_order_relaxed);
    }

    const PictureSize sensor = gSizeTable[chosen][0];
    const PictureSize out = sizeOf(row, valueOf(isPhoto ? c.photoAspect : c.videoAspect));
    const uint32_t m = half ? 2 : 1;
    if (out.width == 0 || out.height == 0) return false;
    CaptureGeometry g{};
    g.sensorWidth = sensor.width;
    g.sensorHeight = sensor.height;
    g.cropLeft = static_cast<uint32_t>((int32_t(sensor.width) - int32_t(m * out.width)) >> 1);
    g.cropTop = static_cast<uint32_t>((int32_t(sensor.height) - int32_t(m * out.height)) >> 1);
    g.cropRight = g.cropLeft + m * out.width - 1;
    g.cropBottom = g.cropTop + m * out.height - 1;
    if (gApp.screenCaptureEdition && c.captureWindowValid) {
        const int32_t* window = c.alignedCaptureWindow;
        g.outLeft = uint32_t(window[0]);
        g.outTop = uint32_t(window[1]);
        g.outRight = uint32_t(window[0] + window[2] - 1);
        g.outBottom = uint32_t(window[1] + window[3] - 1);
        g.outWidth = uint32_t(window[2]);
        g.outHeight = uint32_t(window[3]);
    } else {
        g.outLeft = 0;
        g.outTop = 0;
        g.outRight = g.cropRight - g.cropLeft;
        g.outBottom = g.cropBottom - g.cropTop;
        g.outWidth = out.width;
        g.outHeight = out.height;
    }
    const uint32_t scaleX = (sensor.width << 16) / (m * out.width);
    const uint32_t scaleY = (sensor.height << 16) / (m * out.height);
    g.scale = scaleX < scaleY ? scaleX : scaleY;
    published = g;

    const bool reducible =
        isPhoto && !gApp.screenCaptureEdition &&
        (kind == kPreviewGeometry || (kind == kWysiwygGeometry && !gVideoCapableRows[row]));
    if (reducible && c.maxStreamWidth > 0 && c.maxStreamHeight > 0 &&
        (sensor.width > c.maxStreamWidth || sensor.height > c.maxStreamHeight))
        reduceForPreview(g, c.maxStreamWidth, c.maxStreamHeight);
    stream = g;
    return true;
}
