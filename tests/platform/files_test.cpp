// Device paths stay inside the device root; files, folders and free space behave as on the
// device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "platform/hooks.h"
#include "platform/note_prj.h"
#include "support/temp_device.h"

namespace {

TEST(DevicePaths, MapUnderTheRootAndIgnoreCase) {
    TempDevice device;
    EXPECT_EQ(hostPathOf(u"\\My Documents\\a.jpg"), device.root() + "/My Documents/a.jpg");
    EXPECT_EQ(hostPathOf(u"\\my documents\\a.jpg"), device.root() + "/My Documents/a.jpg");
    EXPECT_EQ(hostPathOf(u"\\Program Files\\Lumovatrix\\Config.txt"),
              device.root() + "/Program Files/Lumovatrix/Config.txt");
}

TEST(DevicePaths, PathsLeavingTheRootAreRefused) {
    TempDevice device;
    EXPECT_EQ(hostPathOf(u"\\My Documents\\..\\..\\etc\\passwd"), "");
    EXPECT_EQ(hostPathOf(u"/etc/passwd"), "");
    EXPECT_EQ(hostPathOf(u"My Documents\\relative.txt"), "");
    EXPECT_EQ(hostPathOf(u"\\.device\\registry"), "") << "the stand-in's own files";
    EXPECT_EQ(hostPathOf(u"\\C:\\x"), "");
    std::filesystem::create_symlink("/etc", device.root() + "/My Documents/link");
    EXPECT_EQ(hostPathOf(u"\\My Documents\\link\\passwd"), "");
    EXPECT_EQ(_wfopen(u"\\My Documents\\link\\passwd", u"rb"), nullptr);
    EXPECT_FALSE(DeleteFileW(u"\\My Documents\\..\\Windows"));
}

TEST(DeviceFiles, CreateWriteDeleteThroughDevicePaths) {
    TempDevice device;
    EXPECT_TRUE(CreateDirectoryW(u"\\My Documents\\My Pictures", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\My Documents\\My Pictures", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    FILE* f = _wfopen(u"\\My Documents\\My Pictures\\x.bin", u"wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite("abc", 1, 3, f), 3u);
    fclose(f);
    EXPECT_TRUE(std::filesystem::exists(device.root() + "/My Documents/My Pictures/x.bin"));
    EXPECT_TRUE(DeleteFileW(u"\\My Documents\\My Pictures\\x.bin"));
    EXPECT_FALSE(DeleteFileW(u"\\My Documents\\My Pictures\\x.bin"));
}

TEST(DeviceFiles, AFullCardFailsTheWriteThatDoesNotFit) {
    TempDevice device;
    device.handheld().faults.writeBudget = 10;
    FILE* f = _wfopen(u"\\My Documents\\full.bin", u"wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite("123456", 1, 6, f), 6u);
    EXPECT_LT(fwrite("789012", 1, 6, f), 6u);
    fclose(f);
    EXPECT_EQ(std::filesystem::file_size(device.root() + "/My Documents/full.bin"), 10u)
        << "what fitted was written";
    device.handheld().faults.writeBudget = -1;
}

// A full card still rewrites bytes a file has (a movie's header in place): only growth is charged.
TEST(DeviceFiles, AFullCardChargesOnlyTheBytesThatGrowAFile) {
    TempDevice device;
    device.handheld().faults.writeBudget = 8;
    FILE* f = _wfopen(u"\\My Documents\\grow.bin", u"wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite("abcdef", 1, 6, f), 6u);  // 2 bytes of room left
    ASSERT_EQ(fseek(f, 0, SEEK_SET), 0);
    EXPECT_EQ(fwrite("ABCDEF", 1, 6, f), 6u) << "in place: free";
    ASSERT_EQ(fseek(f, 4, SEEK_SET), 0);
    EXPECT_EQ(fwrite("123456", 1, 6, f), 4u) << "2 in place, 2 of growth";
    EXPECT_EQ(device.handheld().faults.writeBudget.load(), 0);
    fclose(f);
    std::ifstream in(device.root() + "/My Documents/grow.bin");
    std::string bytes;
    std::getline(in, bytes);
    EXPECT_EQ(bytes, "ABCD1234");
    device.handheld().faults.writeBudget = -1;
}

// A card named in UTF-8 in the profile is found under its UTF-16 name, and a file written there
// lands in the card's host folder.
TEST(DeviceFiles, ACardWithANonAsciiNameIsFoundAndWrittenTo) {
    DeviceProfile profile = *findBuiltinProfile("ph10c");
    profile.cards = {"Spe\xc3\xaf" "cher \xf0\x9f\x93\xb7"};  // "Speïcher" and a camera emoji
    TempDevice device(profile);
    WIN32_FIND_DATA data{};
    const HANDLE search = FindFirstFlashCard(&data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(std::u16string(data.cFileName), u"Spe\u00efcher \U0001F4F7");
    const std::u16string path = u"\\" + std::u16string(data.cFileName) + u"\\photo.jpg";
    FILE* f = _wfopen(path.c_str(), u"wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite("jpg", 1, 3, f), 3u);
    fclose(f);
    EXPECT_TRUE(std::filesystem::exists(device.root() + "/" + profile.cards[0] + "/photo.jpg"));
}

TEST(DeviceFiles, FreeSpaceFromTheProfileOrTheHost) {
    DeviceProfile profile = *findBuiltinProfile("ph10c");
    profile.freeSpace = 5ull << 30;
    TempDevice device(profile);
    ULARGE_INTEGER available{};
    EXPECT_TRUE(GetDiskFreeSpaceExW(u"\\My Documents", &available, nullptr, nullptr));
    EXPECT_EQ(available.QuadPart, 5ull << 30);
    EXPECT_FALSE(GetDiskFreeSpaceExW(u"\\No Such Folder", &available, nullptr, nullptr));
}

TEST(RuntimeText, WideToLongAndUpperCase) {
    EXPECT_EQ(_wtol(u"  -12abc"), -12);
    EXPECT_EQ(_wtol(u"+7"), 7);
    EXPECT_EQ(_wtol(u"x1"), 0);
    EXPECT_EQ(_wtol(u"99999999999"), 2147483647) << "saturates at the handheld's 32-bit long";
    char text[] = "pm10a-x";
    EXPECT_STREQ(_strupr(text), "PM10A-X");
}

}  // namespace
