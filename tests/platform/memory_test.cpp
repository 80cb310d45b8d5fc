// Physical memory mappings: VirtualCopy maps whole pages of the device's physical memory, and the
// mapping aliases what the simulated hardware sees, both ways.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/kernel.h"
#include "support/temp_device.h"

namespace {

constexpr DWORD kPhysicalReadWrite = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
constexpr uint64_t kPage = kDevicePageBytes;
constexpr uint64_t kSomeRam = kRamPhysical + (8u << 20);

LPVOID unitsOf(uint64_t physical) {
    return reinterpret_cast<LPVOID>(static_cast<uintptr_t>(physical / 256));
}

class PhysicalMappings : public ::testing::Test {
  protected:
    void SetUp() override {
        if (sysconf(_SC_PAGESIZE) != static_cast<long>(kPage))
            GTEST_SKIP() << "this host's pages are not the device's " << kPage << " bytes";
    }
    TempDevice device_;
};

// The way the program maps an object: from the page below it, then its offset in the page. Each
// object (any 16-byte position: on a page, on 256 bytes inside one, far into one, across pages)
// reads the bytes the hardware holds there, and a write through it reaches the hardware.
TEST_F(PhysicalMappings, AnObjectAnywhereInAPageIsReadAtItsOffset) {
    const uint64_t offsets[] = {0, 0x10, 0x100, 0x300, 0x360, 0xF00, 0xFF0};
    const uint32_t sizes[] = {16, 300, 2 * kPage + 5};
    std::mt19937 random(7);
    for (uint64_t offset : offsets)
        for (uint32_t size : sizes) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << ", " << size << " bytes");
            const uint64_t physical = kSomeRam + 3 * kPage + offset;
            std::vector<uint8_t> bytes(size);
            for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
            memcpy(device_.handheld().physical(physical, size), bytes.data(), size);

            auto* window = static_cast<uint8_t*>(
                VirtualAlloc(nullptr, DWORD(offset + size), MEM_RESERVE, PAGE_NOACCESS));
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(window) % kPage, 0u) << "a reservation's start";
            ASSERT_TRUE(VirtualCopy(window, unitsOf(physical - offset), DWORD(offset + size),
                                    kPhysicalReadWrite));
            const uint8_t* object = window + offset;
            EXPECT_EQ(std::vector<uint8_t>(object, object + size), bytes);

            window[offset + size - 1] ^= 0xFF;
            EXPECT_EQ(*device_.handheld().physical(physical + size - 1, 1),
                      uint8_t(bytes.back() ^ 0xFF))
                << "a write through the mapping reaches the hardware";
            EXPECT_TRUE(VirtualFree(window, 0, MEM_RELEASE));
        }
}

// What is refused, each with ERROR_INVALID_PARAMETER and nothing mapped: an address that is not
// on a page (256-byte units inside a page included: a page-table entry cannot start there),
// memory the device does not have, a size beyond the reservation, a destination that was not
// reserved, no physical flag.
TEST_F(PhysicalMappings, WhatCannotBeMappedIsRefused) {
    auto* window = static_cast<uint8_t*>(VirtualAlloc(nullptr, 64, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(window, nullptr);
    const struct {
        const char* what;
        LPVOID destination;
        uint64_t physical;
        DWORD size, protect;
    } cases[] = {
        {"256 bytes into a page", window, kSomeRam + 0x100, 64, kPhysicalReadWrite},
        {"0xF00 into a page", window, kSomeRam + 0xF00, 64, kPhysicalReadWrite},
        {"outside the device's memory", window, 0x10000000, 64, kPhysicalReadWrite},
        {"just past its RAM", window, kRamPhysical + kRamBytes, 64, kPhysicalReadWrite},
        {"more than was reserved", window, kSomeRam, 65, kPhysicalReadWrite},
        {"not reserved", window + kPage, kSomeRam, 64, kPhysicalReadWrite},
        {"no physical flag", window, kSomeRam, 64, PAGE_READWRITE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(VirtualCopy(c.destination, unitsOf(c.physical), c.size, c.protect));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(VirtualCopy(window, unitsOf(kSomeRam), 64, kPhysicalReadWrite))
        << "the same reservation still takes a page";
    EXPECT_TRUE(VirtualFree(window, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(window, 0, MEM_RELEASE)) << "released once";
}

}  // namespace
