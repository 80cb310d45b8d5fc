// Storage places, dated file names and free space.
//
// Paths are UTF-16 device paths in fixed buffers; every append is bounded by its buffer, and a
// card whose folder would not fit the place's path buffer is left out rather than cut.
#include "media/storage.h"

#include <cstdio>

#include "core/app_state.h"
#include "settings/settings_model.h"
#include "settings/settings_table.h"

namespace {

constexpr const WCHAR* kMainMemoryFolder = u"\\My Documents";
constexpr const WCHAR* kPhotoFolder = u"\\My Pictures";
constexpr const WCHAR* kMovieFolder = u"\\My Videos";
constexpr const char* kMainMemoryLabel = "\\My Documents\\My..";
constexpr int32_t kPhotoFormatBmp = 0;  // photo "Format" value that writes BMP files

// The "Save To" entries handed to the settings; they point at the place labels.
ValueEntry gSaveToEntries[kMaxStoragePlaces];

size_t length16(const WCHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// Appends `text` to the UTF-16 text in `buffer` of `capacity` units. False, leaving the buffer
// unchanged, when it does not fit with its terminator.
bool append16(WCHAR* buffer, size_t capacity, const WCHAR* text) {
    const size_t used = length16(buffer), add = length16(text);
    if (used + add + 1 > capacity) return false;
    for (size_t i = 0; i <= add; ++i) buffer[used + i] = text[i];
    return true;
}

bool appendAscii(WCHAR* buffer, size_t capacity, const char* text) {
    WCHAR wide[64] = {};
    size_t n = 0;
    while (text[n] && n + 1 < sizeof wide / sizeof wide[0]) {
        wide[n] = static_cast<unsigned char>(text[n]);
        ++n;
    }
    return append16(buffer, capacity, wide);
}

bool isPhotoLike(int32_t mode) {
    return mode == kModePhoto || mode == kModeInterval;
}

// The base folder of the place the current mode saves to; main memory when the setting names a
// place that is not in the table.
const WCHAR* chosenBase(bool photoLike) {
    const int32_t place = valueOf(setting(photoLike ? kSlotPhotoSaveTo : kSlotVideoSaveTo));
    if (place < 0 || static_cast<uint32_t>(place) >= storagePlaces.count)
        return storagePlaces.count ? storagePlaces.entries[0].path : kMainMemoryFolder;
    return storagePlaces.entries[place].path;
}

// Adds a card ("\" + name) unless its path with "\My Documents" would not fit the buffer.
void addCard(const WCHAR* name) {
    StoragePlace& place = storagePlaces.entries[storagePlaces.count];
    place.path[0] = 0;
    if (length16(name) + length16(kMainMemoryFolder) + 2 > kStoragePathUnits) return;
    append16(place.path, kStoragePathUnits, u"\\");
    append16(place.path, kStoragePathUnits, name);
    storagePlaces.count += 1;
}

// "\Storage Card\My.." when the card path is plain 8-bit text, else "\Storage<i>\My..".
void labelCard(uint32_t index) {
    StoragePlace& place = storagePlaces.entries[index];
    char narrow[kStoragePathUnits] = {};
    bool plain = true;
    for (size_t i = 0; place.path[i] && i + 1 < sizeof narrow; ++i) {
        if (place.path[i] >= 128) plain = false;
        narrow[i] = static_cast<char>(place.path[i]);
    }
    if (plain)
        std::snprintf(place.label, sizeof place.label, "%s\\My..", narrow);
    else
        std::snprintf(place.label, sizeof place.label, "\\Storage%u\\My..", index);
}

}  // namespace

uint32_t buildStoragePlaces() {
    storagePlaces.count = 0;
    StoragePlace& main = storagePlaces.entries[0];
    main.path[0] = 0;
    append16(main.path, kStoragePathUnits, kMainMemoryFolder);
    storagePlaces.count = 1;

    WIN32_FIND_DATA found{};
    HANDLE search = FindFirstFlashCard(&found);
    if (search != INVALID_HANDLE_VALUE && search != nullptr) {
        do {
            if (found.cFileName[0] && storagePlaces.count < kMaxStoragePlaces)
                addCard(found.cFileName);
        } while (FindNextFlashCard(search, &found));
        FindClose(search);
    }

    std::snprintf(main.label, sizeof main.label, "%s", kMainMemoryLabel);
    for (uint32_t i = 1; i < storagePlaces.count; ++i) {
        labelCard(i);
        append16(storagePlaces.entries[i].path, kStoragePathUnits, kMainMemoryFolder);
    }
    for (uint32_t i = 0; i < storagePlaces.count; ++i)
        gSaveToEntries[i] = ValueEntry{storagePlaces.entries[i].label, static_cast<int32_t>(i)};
    setSaveToEntries(gSaveToEntries, static_cast<int32_t>(storagePlaces.count));
    return storagePlaces.count;
}

namespace {

constexpr int kMaxSameSecondNames = 100;

bool fileExists(const WCHAR* path) {
    FILE* file = _wfopen(path, u"rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

}  // namespace

void makeFileName(WCHAR* path) {
    const int32_t mode = valueOf(setting(kSlotCaptureMode));
    const bool photoLike = isPhotoLike(mode);
    const WCHAR* base = chosenBase(photoLike);
    CreateDirectoryW(base, nullptr);  // fails when the folder exists: that is fine
    path[0] = 0;
    append16(path, MAX_PATH, base);
    append16(path, MAX_PATH, photoLike ? kPhotoFolder : kMovieFolder);
    CreateDirectoryW(path, nullptr);

    SYSTEMTIME now{};
    GetLocalTime(&now);
    char suffix[16] = "";
    if (mode == kModeInterval)
        std::snprintf(suffix, sizeof suffix, "-%02u", gApp.intervalShots.load());
    const char* extension =
        !photoLike ? "avi"
                   : (valueOf(setting(kSlotPhotoFormat)) == kPhotoFormatBmp ? "bmp" : "jpg");
    // The year is written modulo 100 without padding: 2006 gives "6".
    char stem[48];
    std::snprintf(stem, sizeof stem, "\\%d%02d%02d-%02d%02d%02d%s", now.wYear % 100, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, suffix);
    const size_t folderLength = wcslen16(path);
    char name[64];
    std::snprintf(name, sizeof name, "%s.%s", stem, extension);
    appendAscii(path, MAX_PATH, name);
    // Two pictures in the same second would get the same name, and the second would overwrite
    // the first; a name that is taken gets a number instead.
    for (int n = 2; n < kMaxSameSecondNames && fileExists(path); ++n) {
        path[folderLength] = 0;
        std::snprintf(name, sizeof name, "%s_%d.%s", stem, n, extension);
        appendAscii(path, MAX_PATH, name);
    }
}

uint32_t queryFreeSpace() {
    const int32_t mode = valueOf(setting(kSlotCaptureMode));
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(chosenBase(isPhotoLike(mode)), &available, &total, &free))
        return kFreeSpaceCap;
    if (available.HighPart == 0 && available.LowPart < kFreeSpaceCap) return available.LowPart;
    return kFreeSpaceCap;
}
