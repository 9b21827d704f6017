#include "Format.h"

#include <gtest/gtest.h>

using namespace gf;

TEST(Format, DirectivesInUse) {
  struct {
    std::string got, want;
  } cases[] = {
      {Format("%s and %d", "cats", 42), "cats and 42"},
      {Format("%d", -7), "-7"},
      {Format("%x", 255), "FF"},
      {Format("%x", -1), "FFFFFFFF"},
      {Format("[%.8x]", 0x1a2b), "[00001A2B]"},
      {Format("%.2x", 7), "07"},
      {Format("%.2x", 0x1234), "1234"},
      {Format("%d", 4294967295u), "4294967295"},
      {Format("%.1f %s", 1000.0, "kB"), "1000.0 kB"},
      {Format("100%%"), "100%"},
      {Format("%5d|%-5s|", 42, "ab"), "   42|ab   |"},
      {Format("no directives"), "no directives"},
  };
  for (auto& c : cases)
    EXPECT_EQ(c.got, c.want);
}

TEST(Format, MismatchRaises) {
  EXPECT_THROW(Format("%d", "text"), EFormatError);
  EXPECT_THROW(Format("%s", 5), EFormatError);
  EXPECT_THROW(Format("%x", 1.5), EFormatError);
  EXPECT_THROW(Format("%d %d", 1), EFormatError);
  EXPECT_THROW(Format("%d", 1, 2), EFormatError);
  EXPECT_THROW(Format("%q", 1), EFormatError);
  EXPECT_THROW(Format("%", 1), EFormatError);
}

TEST(Format, ArgumentTextIsNeverAFormat) {
  EXPECT_EQ(Format("%s", "%d %s %x"), "%d %s %x");
}
