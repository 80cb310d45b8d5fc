#include "app/program_resources.h"

#include "app/startup.h"
#include "platform/window.h"

// The font bitmap's resource data: the DIB's 40-byte header, its two-colour palette and rows.
extern const unsigned char kFontBitmap[];
extern const size_t kFontBitmap_size;

namespace {

const StringResource kStrings[] = {
    {kStringTitle, u"Lumovatrix"},
    {kStringClassName, u""},
};

const DataResource kData[] = {
    {reinterpret_cast<uintptr_t>(RT_BITMAP), kBitmapFont, kFontBitmap,
     static_cast<DWORD>(kFontBitmap_size)},
};

}  // namespace

const ModuleResources kProgramResources = {kStrings, std::size(kStrings), kData, std::size(kData)};
const WCHAR* const kProgramDevicePath = u"\\Program Files\\Lumovatrix\\Lumovatrix.exe";
