// Name matching: heading and partial comparison with a..z folded, every other
// byte compared by value.
#include <gtest/gtest.h>

#include "midi/matching.h"

TEST(Matching, HeadFoldsOnlyLettersAndComparesHighBytesByValue) {
  EXPECT_TRUE(matchHead("YAMAHA USB-MIDI", "Yamaha"));
  EXPECT_FALSE(matchHead("song.mid", ".MID")) << "the head must stand at the beginning";
  EXPECT_TRUE(matchHead(".mId", ".MID"));
  EXPECT_TRUE(matchHead("anything", "")) << "an empty head matches";
  EXPECT_TRUE(matchHead("", ""));
  EXPECT_FALSE(matchHead("MIDI", "MIDI MAPPER")) << "a text shorter than the head";
  EXPECT_FALSE(matchHead("", "A"));
  // Only a..z fold: "@" (0x40) and "`" (0x60), "[" and "{" stay apart.
  EXPECT_FALSE(matchHead("@x", "`x"));
  EXPECT_FALSE(matchHead("[", "{"));
  // Bytes above 127: equal bytes match, 0xE0 and 0xC0 (Latin-1 case pair) do not.
  EXPECT_TRUE(matchHead("\x83\x41\x83\x43 Piano", "\x83\x41\x83\x43"));
  EXPECT_FALSE(matchHead("\xE0", "\xC0"));
  EXPECT_FALSE(matchHead("\xFF", "\x7F"));
}

TEST(Matching, PartFindsTheTextAnywhereAndNeverAnEmptyPart) {
  EXPECT_TRUE(matchPart("USB MIDI Interface", "midi"));
  EXPECT_TRUE(matchPart("USB MIDI Interface", "interface")) << "at the very end";
  EXPECT_TRUE(matchPart("USB MIDI Interface", "usb")) << "at the beginning";
  EXPECT_TRUE(matchPart("abc", "ABC")) << "the whole text";
  EXPECT_FALSE(matchPart("abc", "abcd")) << "longer than the text";
  EXPECT_FALSE(matchPart("abc", "")) << "an empty part never matches";
  EXPECT_FALSE(matchPart("", ""));
  EXPECT_FALSE(matchPart("MIDI", "MIDX"));
  EXPECT_TRUE(matchPart("aab", "ab")) << "a false start is retried one byte on";
  EXPECT_TRUE(matchPart("x\x95\x5Cy", "\x95\x5C"));
  EXPECT_FALSE(matchPart("x\xE9y", "\xC9"));
}
