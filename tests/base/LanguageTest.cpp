#include "Language.h"

#include <gtest/gtest.h>

using namespace gf;

TEST(Language, TableHasItsEntriesAndNothingBetween) {
  int count = 0;
  for (int id = 65240; id <= 65300; ++id)
    if (!LoadStr(id).empty())
      ++count;
  EXPECT_EQ(count, 37);
  for (int id : {65256, 65257, 65258, 65280, 65281, 65282})
    EXPECT_EQ(LoadStr(id), "") << id;
}

TEST(Language, TextsKeepTheirLineBreaks) {
  EXPECT_EQ(LoadStr(sCompletedBody).find("%d Images"), LoadStr(sCompletedBody).find("\r\n") + 2);
  EXPECT_TRUE(LoadStr(sCompletedBody).ends_with("%s\r\n"));
  EXPECT_TRUE(LoadStr(sIncompleteAdvice).starts_with("\r\n"));
  for (int id : {sCheckSeated, sCheckDrivers, sCheckCables}) {
    std::string s = LoadStr(id);
    EXPECT_TRUE(s.ends_with("\r\n")) << id;
    EXPECT_FALSE(s.substr(0, s.size() - 2).ends_with("\r\n")) << id;
  }
  EXPECT_EQ(LoadStr(sNotReady), "<Not Ready>");
  EXPECT_EQ(LoadStr(sUnformatted), "<Unformatted>");
  EXPECT_EQ(LoadStr(sProductTitle), "Glimmerfold(tm) for Digital Media");
}

// The texts that Format fills take their arguments in the order the callers pass them.
TEST(Language, FilledTextsTakeTheirArgumentsInOrder) {
  struct TCase {
    int Id;
    std::string Directives;
  };
  const TCase cases[] = {
      {sTargetMissingCreate, "%s"}, {sCreateDirFailed, "%s"},       {sCompletedBody, "%d%s"},
      {sFixedDiskWarning, "%s"},    {sSaveErrorContinue, "%s"},     {sNotSavedTitle, ""},
      {sNotSavedBody, "%d%s"},      {sIncompleteNoneSaved, ""},     {sTargetNotWritable, "%s%s"},
      {sPrefixInvalid, ""},         {sDestNotFull, "%s"},           {sTrashFailed, "%s"},
      {sTrashFailedMore, "%d"},     {sTargetUnusable, "%s%s"},      {sNotFlushedTitle, ""},
      {sNotFlushedBody, "%d%s%s"},  {sDestOnScannedMedium, "%s%s"},
      {sPartlyReadWarning, "%s%s%s"}, {sPartlyReadBody, "%s%s"},
      {sPartlyReadSaved, "%d%s"},   {sPartlyReadNothing, ""},
  };
  for (const TCase& c : cases) {
    std::string text = LoadStr(c.Id), found;
    ASSERT_FALSE(text.empty()) << c.Id;
    for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 2))
      found += text.substr(i, 2);
    EXPECT_EQ(found, c.Directives) << c.Id;
  }
}
