// Settings persistence and Config.txt.
//
// The settings block is the 49 `current` indices in slot order, each written "%d," into one
// REG_SZ value, terminator included. Reading takes at most 510 bytes, and the parse never looks
// past the bytes the registry returned, whatever they hold: a value without a terminator, with
// stray NULs, odd-sized or too long for the buffer is read as far as it goes and no further.
//
// Config.txt is 8-bit text with two keys matched anywhere in it; the file is read whole and the
// search stops at the first NUL byte, as it would in a C string.
#include "app/persistence.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/app_state.h"
#include "platform/windows.h"
#include "settings/settings_table.h"

namespace {

constexpr const WCHAR* kSettingsValue = u"Settings";
// The query buffer: 255 UTF-16 characters, room for 49 entries of up to four characters.
constexpr DWORD kSettingsBufferBytes = 510;
constexpr size_t kSettingsBufferChars = kSettingsBufferBytes / sizeof(WCHAR);
// The longest entry "%d," writes: "-2147483648,".
constexpr size_t kLongestEntry = 12;

constexpr const char* kWebcamKey = "WebcamIP:";
constexpr const char* kCaptureWindowKey = "CaptureWindow:";
// Values of this many bytes or more are ignored.
constexpr size_t kConfigValueLimit = 100;
static_assert(kConfigValueLimit <= kServerTextBytes);
constexpr int kCaptureWindowFields = 4;

void resetSlots() {
    for (ValueList* list : gSettingsTable) list->current.store(-1, std::memory_order_relaxed);
}

// atoi with the handheld's 32-bit int: numbers beyond it saturate instead of overflowing.
int32_t toInt(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The blanks (32 only) after a key's colon.
const char* skipBlanks(const char* p) {
    while (*p == ' ') ++p;
    return p;
}

void applyWebcamServer(const char* text) {
    const char* key = std::strstr(text, kWebcamKey);
    if (!key) return;
    const char* value = skipBlanks(key + std::strlen(kWebcamKey));
    // A host name: printable ASCII without blanks.
    size_t length = 0;
    while (static_cast<unsigned char>(value[length]) > 32 &&
           static_cast<unsigned char>(value[length]) < 128)
        ++length;
    if (length >= kConfigValueLimit) return;
    std::memcpy(gApp.webcamServer, value, length);
    gApp.webcamServer[length] = 0;
}

void applyCaptureWindow(const char* text) {
    const char* key = std::strstr(text, kCaptureWindowKey);
    if (!key) return;
    const char* value = skipBlanks(key + std::strlen(kCaptureWindowKey));
    // Up to the line end: printable ASCII, blanks included.
    size_t length = 0;
    while (static_cast<unsigned char>(value[length]) >= 32 &&
           static_cast<unsigned char>(value[length]) < 128)
        ++length;
    if (length >= kConfigValueLimit || length == 0) return;
    char fields[kConfigValueLimit];
    std::memcpy(fields, value, length);
    fields[length] = 0;
    char* field = fields;
    for (int i = 0; i < kCaptureWindowFields && field; ++i) {
        char* comma = std::strchr(field, ',');
        if (comma) *comma = 0;
        gApp.captureWindow[i] = toInt(field);
        field = comma ? comma + 1 : nullptr;
    }
}

}  // namespace

bool applySettingsBlock(const BYTE* data, DWORD size) {
    // One character more than the buffer holds, always a terminator.
    WCHAR text[kSettingsBufferChars + 1] = {};
    if (!data || size == 0) {
        resetSlots();
        return false;
    }
    const size_t bytes = size < kSettingsBufferBytes ? size : kSettingsBufferBytes;
    std::memcpy(text, data, bytes);

    size_t at = 0;
    for (int slot = 0; slot < kSettingsCount; ++slot) {
        size_t comma = at;
        while (text[comma] && text[comma] != u',') ++comma;
        if (!text[comma]) {
            resetSlots();
            return false;
        }
        text[comma] = 0;
        const long number = _wtol(text + at);
        ValueList& list = setting(slot);
        if (number >= list.count) {
            resetSlots();
            return false;
        }
        // Any negative number selects the default, as -1 does.
        list.current.store(number < 0 ? -1 : static_cast<int32_t>(number),
                           std::memory_order_relaxed);
        at = comma + 1;
    }
    return true;
}

bool loadSettings() {
    HKEY key = nullptr;
    if (!gApp.registryKeyPath ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, gApp.registryKeyPath, 0, 0, &key) != ERROR_SUCCESS) {
        resetSlots();
        return false;
    }
    alignas(WCHAR) BYTE buffer[kSettingsBufferBytes] = {};
    DWORD type = 0;
    DWORD size = kSettingsBufferBytes;
    const LONG result = RegQueryValueExW(key, kSettingsValue, nullptr, &type, buffer, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || size == 0) {
        resetSlots();
        return false;
    }
    return applySettingsBlock(buffer, size);
}

void saveSettings() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (!gApp.registryKeyPath ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, gApp.registryKeyPath, 0, nullptr, 0, 0, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return;
    char text[kSettingsCount * kLongestEntry + 1] = {};
    size_t length = 0;
    for (const ValueList* list : gSettingsTable) {
        const int written = snprintf(text + length, sizeof text - length, "%d,",
                                     static_cast<int>(list->current.load()));
        if (written > 0) length += static_cast<size_t>(written);
    }
    WCHAR wide[sizeof text] = {};
    for (size_t i = 0; i < length; ++i) wide[i] = static_cast<WCHAR>(text[i]);
    RegSetValueExW(key, kSettingsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                   static_cast<DWORD>((length + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
}

namespace {

// Config.txt is a few lines of text; a larger file is none the program wrote, and is not read.
constexpr long kMaxConfigBytes = 65536;
constexpr const char* kConfigIgnoredMessage = "Config.txt ignored";
constexpr uint32_t kConfigIgnoredMessageMs = 3000;

// The defaults stay; the message line and the debug log say why.
void ignoreConfigFile(const WCHAR* why) {
    OutputDebugStringW(why);
    setOsdMessage(kConfigIgnoredMessage, kConfigIgnoredMessageMs);
    gApp.osdMessageStart.store(GetTickCount(), std::memory_order_relaxed);
}

}  // namespace

void applyConfigText(const char* text) {
    applyWebcamServer(text);
    for (int32_t& field : gApp.captureWindow) field = -1;
    applyCaptureWindow(text);
}

bool readConfigFile(LPCWSTR path) {
    FILE* file = _wfopen(path, u"rb");
    if (!file) {
        if (errno != ENOENT) ignoreConfigFile(u"Config.txt is not a regular file; ignored");
        return false;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size > long{kMaxConfigBytes}) {
        std::fclose(file);
        ignoreConfigFile(u"Config.txt is larger than 65536 bytes; ignored");
        return false;
    }
    if (size <= 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return false;
    }
    std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
    if (!text) {
        std::fclose(file);
        return false;
    }
    const size_t read = std::fread(text.get(), 1, static_cast<size_t>(size), file);
    std::fclose(file);
    text[read] = 0;
    applyConfigText(text.get());
    return true;
}
