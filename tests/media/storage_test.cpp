// Storage places from the device's cards, the "Save To" lists, the dated file names with their
// folders, and the free space at a place.
#include <filesystem>

#include "media/capture_test_support.h"

namespace {

using namespace capturetest;

TEST(StoragePlaces, MainMemoryThenEachCardWithItsPathAndLabel) {
    DeviceProfile p = profile();
    p.cards = {"Storage Card", "SD Karte"};
    {
        CaptureState state(p);
        ASSERT_EQ(buildStoragePlaces(), 3u);
        const char* const paths[] = {"\\My Documents", "\\Storage Card\\My Documents",
                                     "\\SD Karte\\My Documents"};
        const std::vector<std::string> labels = {"\\My Documents\\My..", "\\Storage Card\\My..",
                                                 "\\SD Karte\\My.."};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(narrow(storagePlaces.entries[i].path), paths[i]);
            EXPECT_EQ(storagePlaces.entries[i].label, labels[i]);
        }
        // Both "Save To" lists offer the places by number and default to the first card.
        for (int slot : {kSlotPhotoSaveTo, kSlotVideoSaveTo}) {
            EXPECT_EQ(labelsOf(setting(slot)), labels);
            EXPECT_EQ(valueOf(setting(slot)), 1);
        }
    }
    p.cards = {"Carte\xc3\xa9"};  // "Cartee" with an acute e: one character above 127
    for (int i = 0; i < 11; ++i) p.cards.push_back("Card" + std::to_string(i));
    {
        CaptureState many(p);
        ASSERT_EQ(buildStoragePlaces(), kMaxStoragePlaces) << "cards beyond the table are ignored";
        EXPECT_STREQ(storagePlaces.entries[1].label, "\\Storage1\\My..");
        EXPECT_EQ(setting(kSlotPhotoSaveTo).count, int32_t(kMaxStoragePlaces));
    }
    p.cards.clear();
    CaptureState none(p);
    EXPECT_EQ(buildStoragePlaces(), 1u);
    EXPECT_EQ(setting(kSlotVideoSaveTo).count, 1);
    EXPECT_EQ(valueOf(setting(kSlotVideoSaveTo)), 0);
}

TEST(FileNames, DatedWithAnUnpaddedYearAndTheIntervalShotNumber) {
    WCHAR path[MAX_PATH];
    {
        CaptureState later(profile("2010-01-02 03:04:05"));  // years modulo 100 are not padded
        setting(kSlotCaptureMode).current.store(kModeVideo);
        makeFileName(path);
        EXPECT_EQ(narrow(path), "\\Storage Card\\My Documents\\My Videos\\100102-030405.avi");
    }
    CaptureState state(profile("2006-12-05 14:30:15"));
    setting(kSlotCaptureMode).current.store(kModeInterval);
    gApp.intervalShots.store(4);
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\Storage Card\\My Documents\\My Pictures\\61205-143015-04.jpg");
    EXPECT_TRUE(
        std::filesystem::is_directory(hostPathOf(u"\\Storage Card\\My Documents\\My Pictures")));

    // A second picture in the same second does not overwrite the first.
    setting(kSlotCaptureMode).current.store(kModePhoto);
    setting(kSlotPhotoFormat).current.store(0);  // "BMP"
    setting(kSlotPhotoSaveTo).current.store(0);  // main memory
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\My Documents\\My Pictures\\61205-143015.bmp");
    FILE* first = _wfopen(path, u"wb");
    ASSERT_NE(first, nullptr);
    fclose(first);
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\My Documents\\My Pictures\\61205-143015_2.bmp");
}

TEST(FreeSpace, CappedAt2GiBExactBelowAndPlentyWhenUnknown) {
    const std::pair<uint64_t, uint32_t> cases[] = {{5000000000ull, 2147483648u},
                                                   {0x80000000ull, 2147483648u},
                                                   {0x7FFFFFFFull, 0x7FFFFFFFu},
                                                   {2999999ull, 2999999u}};
    for (const auto& [deviceFree, reported] : cases) {
        CaptureState state(profile("2006-12-05 14:30:15", deviceFree));
        setting(kSlotCaptureMode).current.store(kModeVideo);
        WCHAR path[MAX_PATH];
        makeFileName(path);  // the movie's folders exist
        EXPECT_EQ(queryFreeSpace(), reported) << deviceFree;
    }
    DeviceProfile p = profile("2006-12-05 14:30:15", 1000);
    p.cards = {"Ghost Card"};  // offered by the enumerator, but its folder is missing
    CaptureState state(p);
    std::filesystem::remove_all(state.device().root() + "/Ghost Card");
    setting(kSlotCaptureMode).current.store(kModeVideo);
    EXPECT_EQ(queryFreeSpace(), 2147483648u);
}

}  // namespace
