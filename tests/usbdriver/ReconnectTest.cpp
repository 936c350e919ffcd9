// Unplug and replug of a virtual bridge, the way the capture program meets
// them: it lists on every tick and reopens device 0 without closing the old
// handle.
#include "PtyPeer.h"
#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

DWORD Count() {
    DWORD count = 0xDEAD;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return count;
}

bool Works(FT_HANDLE handle, PtyPeer& peer) {
    peer.Send({0x42});
    uint8_t byte = 0;
    DWORD got = 0;
    return FT_SetTimeouts(handle, 2000, 1000) == FT_OK && FT_Read(handle, &byte, 1, &got) == FT_OK &&
           got == 1 && byte == 0x42;
}

TEST(Reconnect, SamePseudoTerminalLinkedAgainOpensDespiteTheOldHandle) {
    PtyPeer peer;
    FT_HANDLE old = nullptr;
    ASSERT_EQ(FT_Open(0, &old), FT_OK);
    peer.Unlink();
    EXPECT_EQ(Count(), 0u);
    DWORD queued = 0;
    EXPECT_NE(FT_GetQueueStatus(old, &queued), FT_OK);

    peer.Link("scope0");
    EXPECT_EQ(Count(), 1u);
    FT_HANDLE fresh = nullptr;
    ASSERT_EQ(FT_Open(0, &fresh), FT_OK);
    EXPECT_TRUE(Works(fresh, peer));
    // The old handle stays unusable, but closing it is still fine.
    EXPECT_NE(FT_GetQueueStatus(old, &queued), FT_OK);
    EXPECT_EQ(FT_Close(old), FT_OK);
    EXPECT_EQ(FT_Close(fresh), FT_OK);
}

TEST(Reconnect, NewPseudoTerminalUnderTheSameNameIsANewDevice) {
    auto peer = std::make_unique<PtyPeer>();
    FT_HANDLE old = nullptr;
    ASSERT_EQ(FT_Open(0, &old), FT_OK);
    // Unplugged and back without any listing in between: the link now points
    // at another pseudo-terminal.
    peer.reset();
    peer = std::make_unique<PtyPeer>();
    uint8_t byte = 0;
    DWORD got = 0;
    EXPECT_NE(FT_Write(old, &byte, 1, &got), FT_OK);
    FT_HANDLE fresh = nullptr;
    ASSERT_EQ(FT_Open(0, &fresh), FT_OK);
    EXPECT_TRUE(Works(fresh, *peer));
    EXPECT_EQ(FT_Close(fresh), FT_OK);
    EXPECT_EQ(FT_Close(old), FT_OK);
}

TEST(Reconnect, ThreeUnplugsAreThreeLosses) {
    PtyPeer peer;
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    for (int round = 0; round < 3; ++round) {
        peer.Unlink();
        ASSERT_EQ(Count(), 0u);
        peer.Link("scope0");
        ASSERT_EQ(Count(), 1u);
        ASSERT_EQ(FT_Open(0, &handle), FT_OK) << "round " << round;
        EXPECT_TRUE(Works(handle, peer));
    }
}

} // namespace
