// Storage places from the device's cards, the "Save To" lists, the dated file names with their
// folders, and the free space at a place.
#include <filesystem>

#include "media/capture_test_support.h"

namespace {

using namespace capturetest;

TEST(StoragePlaces, MainMemoryThenEachCardWithItsPathAndLabel) {
    DeviceProfile p = profile();
    p.cards = {"Storage Card", "SD Karte"};
    CaptureState state(p);
    ASSERT_EQ(buildStoragePlaces(), 3u);
    EXPECT_EQ(narrow(storagePlaces.entries[0].path), "\\My Documents");
    EXPECT_STREQ(storagePlaces.entries[0].label, "\\My Documents\\My..");
    EXPECT_EQ(narrow(storagePlaces.entries[1].path), "\\Storage Card\\My Documents");
    EXPECT_STREQ(storagePlaces.entries[1].label, "\\Storage Card\\My..");
    EXPECT_EQ(narrow(storagePlaces.entries[2].path), "\\SD Karte\\My Documents");
    EXPECT_STREQ(storagePlaces.entries[2].label, "\\SD Karte\\My..");
    // Both "Save To" lists offer the places by number and default to the first card.
    for (int slot : {kSlotPhotoSaveTo, kSlotVideoSaveTo}) {
        const ValueList& list = setting(slot);
        EXPECT_EQ(labelsOf(list),
                  (std::vector<std::string>{"\\My Documents\\My..", "\\Storage Card\\My..",
                                            "\\SD Karte\\My.."}));
        EXPECT_EQ(valueOf(list), 1);
    }
}

TEST(StoragePlaces, ACardNameBeyond7BitsIsLabelledByNumberAndTooManyCardsAreIgnored) {
    DeviceProfile p = profile();
    p.cards = {"Carte\xc3\xa9"};  // "Cartee" with an acute e: one character above 127
    for (int i = 0; i < 11; ++i) p.cards.push_back("Card" + std::to_string(i));
    CaptureState state(p);
    ASSERT_EQ(buildStoragePlaces(), kMaxStoragePlaces);
    EXPECT_STREQ(storagePlaces.entries[1].label, "\\Storage1\\My..");
    EXPECT_EQ(setting(kSlotPhotoSaveTo).count, int32_t(kMaxStoragePlaces));
}

TEST(StoragePlaces, WithoutCardsOnlyMainMemoryIsOffered) {
    DeviceProfile p = profile();
    p.cards.clear();
    CaptureState state(p);
    EXPECT_EQ(buildStoragePlaces(), 1u);
    EXPECT_EQ(setting(kSlotVideoSaveTo).count, 1);
    EXPECT_EQ(valueOf(setting(kSlotVideoSaveTo)), 0);
}

TEST(FileNames, ASecondPictureInTheSameSecondDoesNotOverwriteTheFirst) {
    CaptureState state(profile("2006-12-05 14:30:15"));
    setting(kSlotCaptureMode).current.store(kModePhoto);
    setting(kSlotPhotoSaveTo).current.store(0);  // main memory
    WCHAR path[MAX_PATH];
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\My Documents\\My Pictures\\61205-143015.jpg");
    FILE* first = _wfopen(path, u"wb");
    ASSERT_NE(first, nullptr);
    fclose(first);
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\My Documents\\My Pictures\\61205-143015_2.jpg");
}

TEST(FileNames, DatedWithAnUnpaddedYearAndTheIntervalShotNumber) {
    CaptureState state(profile("2006-12-05 14:30:15"));
    WCHAR path[MAX_PATH];

    setting(kSlotCaptureMode).current.store(kModeInterval);
    gApp.intervalShots.store(4);
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\Storage Card\\My Documents\\My Pictures\\61205-143015-04.jpg");
    EXPECT_TRUE(std::filesystem::is_directory(host(u"\\Storage Card\\My Documents\\My Pictures")));

    setting(kSlotCaptureMode).current.store(kModePhoto);
    setting(kSlotPhotoFormat).current.store(0);  // "BMP"
    setting(kSlotPhotoSaveTo).current.store(0);  // main memory
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\My Documents\\My Pictures\\61205-143015.bmp");

    setting(kSlotCaptureMode).current.store(kModeWebcam);  // movies in every other mode
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\Storage Card\\My Documents\\My Videos\\61205-143015.avi");
    EXPECT_TRUE(std::filesystem::is_directory(host(u"\\Storage Card\\My Documents\\My Videos")));
}

TEST(FileNames, YearsModulo100AreNotPadded) {
    CaptureState state(profile("2010-01-02 03:04:05"));
    WCHAR path[MAX_PATH];
    setting(kSlotCaptureMode).current.store(kModeVideo);
    makeFileName(path);
    EXPECT_EQ(narrow(path), "\\Storage Card\\My Documents\\My Videos\\100102-030405.avi");
}

// The free space of the place the movie goes to, once its folders exist.
uint32_t freeSpaceFor(uint64_t deviceFree) {
    CaptureState state(profile("2006-12-05 14:30:15", deviceFree));
    setting(kSlotCaptureMode).current.store(kModeVideo);
    WCHAR path[MAX_PATH];
    makeFileName(path);
    return queryFreeSpace();
}

TEST(FreeSpace, CappedAt2GiBAndExactBelow) {
    EXPECT_EQ(freeSpaceFor(5000000000ull), 2147483648u);
    EXPECT_EQ(freeSpaceFor(0x80000000ull), 2147483648u);
    EXPECT_EQ(freeSpaceFor(0x7FFFFFFF), 0x7FFFFFFFu);
    EXPECT_EQ(freeSpaceFor(2999999), 2999999u);
}

TEST(FreeSpace, AFailedQueryCountsAsPlenty) {
    DeviceProfile p = profile("2006-12-05 14:30:15", 1000);
    p.cards = {"Ghost Card"};  // offered by the enumerator, but its folder is missing
    CaptureState state(p);
    std::filesystem::remove_all(state.device().root() + "/Ghost Card");
    setting(kSlotCaptureMode).current.store(kModeVideo);
    EXPECT_EQ(queryFreeSpace(), 2147483648u);
}

}  // namespace
