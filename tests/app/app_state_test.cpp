// The image buffers and the program-path helper.
#include <gtest/gtest.h>

#include <cstring>

#include "app/app_state.h"
#include "app/startup.h"

namespace {

TEST(EnsureImage, KeepsAnOwnedBlockOfTheSameSizeReplacesABorrowedOneAndFreesAtZero) {
    ImageBuffer image;
    ensureImage(image, 40, 30);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(image.pixels) % 32, 0u);
    EXPECT_EQ(image.header.biSizeImage, 40u * 30 * 2);
    uint8_t* pixels = image.pixels;
    // Same byte count, other shape: the block stays and only the header changes.
    ensureImage(image, 30, 40);
    EXPECT_EQ(image.pixels, pixels);
    EXPECT_EQ(image.header.biWidth, 30);
    EXPECT_EQ(image.header.biHeight, 40);

    ensureImage(image, 0, 16);
    EXPECT_EQ(image.raw, nullptr);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.header.biSizeImage, 0u);
    ensureImage(image, -5, 16);
    EXPECT_EQ(image.pixels, nullptr) << "a negative size is no size";

    alignas(32) static uint8_t foreign[40 * 30 * 2];
    image.pixels = image.raw = foreign;
    image.borrowed = 1;
    image.header.biSizeImage = sizeof foreign;
    ensureImage(image, 40, 30);
    EXPECT_NE(image.pixels, foreign);
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.borrowed, 0);
    std::memset(image.pixels, 0xAB, image.header.biSizeImage);  // it is ours to write
    ensureImage(image, 0, 0);
}

TEST(SiblingPath, ReplacesTheFileNameInTheProgramFolder) {
    const WCHAR program[] = u"\\Program Files\\X\\Prog.exe";
    std::copy(std::begin(program), std::end(program), gApp.programPath);
    EXPECT_EQ(std::u16string(siblingPath(u"Config.txt")), u"\\Program Files\\X\\Config.txt");
    // The buffer is reused: the next call replaces the last name.
    EXPECT_EQ(std::u16string(siblingPath(u"a.dll")), u"\\Program Files\\X\\a.dll");
    // A name too long for the buffer is cut at its end, never written past it.
    std::u16string longName(400, u'n');
    EXPECT_EQ(std::u16string(siblingPath(longName.c_str())).size(), MAX_PATH - 1);
}

}  // namespace
