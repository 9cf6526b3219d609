#include "midi/midiio.h"
#include "testsupport.h"
#include <gtest/gtest.h>
TEST(Smoke, PlayNoteSends) {
    kivra::test::FakeMidi midi;
    EXPECT_TRUE(kivra::PlayNote(61, 100, 0));
    EXPECT_EQ(midi.SentHex(), "90 3D 64");
}
