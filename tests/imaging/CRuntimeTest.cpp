#include "CRuntime.h"

#include "Streams.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace gf;
using namespace gf::test;

namespace {

class CRtlFiles : public ::testing::Test {
protected:
  std::string Make(const std::string& Name, const std::string& Content) {
    std::string path = FDir.Path(Name);
    std::ofstream(path, std::ios::binary) << Content;
    return path;
  }
  static std::string Content(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string ReadAll(int H) {
    char buf[64];
    int n = crt::read(H, buf, sizeof buf);
    return n < 0 ? "<error>" : std::string(buf, static_cast<std::size_t>(n));
  }

  TTestDir FDir{"gf_crtl_"};
};

TEST_F(CRtlFiles, OpenFlagsChooseTheMode) {
  const std::string path = Make("a.bin", "hello");
  // 0x8000 (binary): an existing file for reading; a missing one raises.
  int h = crt::open(path.c_str(), 0x8000);
  EXPECT_EQ(ReadAll(h), "hello");
  EXPECT_EQ(crt::write(h, "x", 1), -1); // read only
  EXPECT_EQ(crt::close(h), 0);
  EXPECT_THROW(crt::open((FDir.Dir() / "missing").c_str(), 0x8000), EFileStreamError);

  // 0x8301 (binary, create, truncate, write): created when missing, emptied when not.
  const std::string made = (FDir.Dir() / "new.bin").string();
  h = crt::open(made.c_str(), 0x8301, 0x180);
  EXPECT_EQ(crt::write(h, "abc", 3), 3);
  crt::close(h);
  EXPECT_EQ(Content(made), "abc");
  h = crt::open(made.c_str(), 0x8301, 0x180);
  crt::close(h);
  EXPECT_EQ(Content(made), "");

  // 0x1 writes over the start and keeps the rest; 0x2 reads and writes.
  h = crt::open(path.c_str(), 0x1);
  EXPECT_EQ(crt::write(h, "J", 1), 1);
  crt::close(h);
  EXPECT_EQ(Content(path), "Jello");
  h = crt::open(path.c_str(), 0x2);
  EXPECT_EQ(ReadAll(h), "Jello");
  EXPECT_EQ(crt::write(h, "!", 1), 1);
  crt::close(h);
  EXPECT_EQ(Content(path), "Jello!");

  // 0x800 appends: the position starts at the end.
  h = crt::open(path.c_str(), 0x801);
  EXPECT_EQ(crt::lseek(h, 0, 1), 6);
  crt::write(h, "?", 1);
  crt::close(h);
  EXPECT_EQ(Content(path), "Jello!?");
  // 0x100 without 0x200 is no create: the file must exist.
  EXPECT_THROW(crt::open((FDir.Dir() / "missing").c_str(), 0x101), EFileStreamError);
}

TEST_F(CRtlFiles, SeekWhence) {
  const std::string path = Make("s.bin", "0123456789");
  const int h = crt::open(path.c_str(), 0);
  struct Case {
    int64_t Offset;
    int Whence;
    int64_t Expected;
  };
  const std::vector<Case> cases = {
      {4, 0, 4},     {2, 1, 6},
      {-3, 2, 7},    {1, 7, 8},    // any other whence: from the current position
      {-100, 0, -1}, {-20, 1, -1}, // before the start: refused
      {0, 1, 8},                   // and the position did not move
      {5, 2, 15},                  // past the end is allowed
  };
  for (const Case& c : cases)
    EXPECT_EQ(crt::lseek(h, c.Offset, c.Whence), c.Expected)
        << "offset " << c.Offset << " whence " << c.Whence;
  crt::close(h);
}

TEST_F(CRtlFiles, HandlesAreSmallIntegersChecked) {
  const std::string path = Make("h.bin", "x");
  const int a = crt::open(path.c_str(), 0);
  const int b = crt::open(path.c_str(), 0);
  EXPECT_GE(a, 1);
  EXPECT_LT(a, crt::MaxOpenFiles + 1);
  EXPECT_NE(a, b);
  EXPECT_EQ(crt::close(a), 0);
  EXPECT_EQ(crt::close(a), -1); // closed twice
  char c;
  for (int bad : {a, 0, -1, 100000, b + 1000}) {
    EXPECT_EQ(crt::read(bad, &c, 1), -1) << bad;
    EXPECT_EQ(crt::write(bad, &c, 1), -1) << bad;
    EXPECT_EQ(crt::lseek(bad, 0, 0), -1) << bad;
  }
  EXPECT_EQ(crt::open(path.c_str(), 0), a);     // the freed slot is reused
  EXPECT_EQ(crt::read(b, &c, 0x80000000u), -1); // count beyond int
  crt::close(a);
  crt::close(b);
}

TEST_F(CRtlFiles, TooManyOpenFilesRaises) {
  const std::string path = Make("m.bin", "x");
  std::vector<int> open;
  EXPECT_THROW(
      {
        for (int i = 0; i <= crt::MaxOpenFiles; ++i)
          open.push_back(crt::open(path.c_str(), 0));
      },
      EFileStreamError);
  EXPECT_EQ(open.size(), static_cast<std::size_t>(crt::MaxOpenFiles));
  for (int h : open)
    crt::close(h);
  crt::close(crt::open(path.c_str(), 0)); // usable again
}

TEST_F(CRtlFiles, ExclusiveSharing) {
  const std::string path = Make("x.bin", "keep");
  const int shared = crt::open(path.c_str(), 0);
  EXPECT_THROW(crt::open(path.c_str(), 0x400), EFileStreamError);
  crt::close(shared);
  const int mine = crt::open(path.c_str(), 0x402);
  EXPECT_THROW(crt::open(path.c_str(), 0), EFileStreamError);
  // A create of a file held exclusively is refused before the file is emptied.
  EXPECT_THROW(crt::open(path.c_str(), 0x301), EFileStreamError);
  EXPECT_EQ(Content(path), "keep");
  crt::close(mine);
  crt::close(crt::open(path.c_str(), 0));
}

TEST(CRtlStrtok, TokensAndSeparatePositions) {
  char text[] = "  a,b";
  char* pos = nullptr;
  EXPECT_STREQ(crt::strtok(text, " \t,", &pos), "a");
  EXPECT_STREQ(crt::strtok(nullptr, " \t,", &pos), "b");
  EXPECT_EQ(crt::strtok(nullptr, " \t,", &pos), nullptr);
  EXPECT_EQ(crt::strtok(nullptr, " \t,", &pos), nullptr);

  // Two walks at once do not disturb each other.
  char one[] = "x y z";
  char two[] = "1,2";
  char *p1 = nullptr, *p2 = nullptr;
  EXPECT_STREQ(crt::strtok(one, " ", &p1), "x");
  EXPECT_STREQ(crt::strtok(two, ",", &p2), "1");
  EXPECT_STREQ(crt::strtok(nullptr, " ", &p1), "y");
  EXPECT_STREQ(crt::strtok(nullptr, ",", &p2), "2");
  EXPECT_STREQ(crt::strtok(nullptr, " ", &p1), "z");
  EXPECT_EQ(crt::strtok(nullptr, ",", &p2), nullptr);

  char blanks[] = " \t, ";
  char* p3 = nullptr;
  EXPECT_EQ(crt::strtok(blanks, " \t,", &p3), nullptr);
  // Bytes of a multi-byte character never match an ASCII delimiter.
  char utf8[] = "\xc3\xa9t\xc3\xa9 x";
  char* p4 = nullptr;
  EXPECT_STREQ(crt::strtok(utf8, " ", &p4), "\xc3\xa9t\xc3\xa9");
}

TEST(CRtlToLower, AsciiOnly) {
  const std::vector<std::pair<int, int>> cases = {
      {'A', 'a'},   {'Z', 'z'},   {'a', 'a'},   {'@', '@'},   {'[', '['}, {'0', '0'},
      {0xC4, 0xC4}, {0xE9, 0xE9}, {0xFF, 0xFF}, {0x141, 'a'}, {-1, 0xFF}, {0, 0},
  };
  for (auto [in, out] : cases)
    EXPECT_EQ(crt::tolower(in), out) << in;
}

} // namespace
