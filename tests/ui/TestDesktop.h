// A desktop for the window tests: records every message box, sound, opened target,
// file sent to the trash and summary, and answers the boxes from a script.
#pragma once

#include "Desktop.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace gf::test {

struct TBoxCall {
  TBoxKind Kind;
  std::string Title;
  std::string Text;
  TBoxButtons Buttons;
};

class TTestDesktop : public TDesktop {
public:
  TBoxAnswer MessageBox(QWidget*, TBoxKind Kind, const std::string& Text,
                        TBoxButtons Buttons) override {
    Boxes.push_back({Kind, BoxTitle(Kind), Text, Buttons});
    if (OnBox)
      OnBox();
    if (Buttons == TBoxButtons::Ok)
      return TBoxAnswer::Ok;
    if (Answers.empty())
      return TBoxAnswer::Yes;
    TBoxAnswer a = Answers.front();
    Answers.pop_front();
    return a;
  }
  void PlaySound(const std::string& Name) override { Sounds.push_back(Name); }
  void Open(QWidget*, const std::string& Target, const std::string& WorkingDir) override {
    Opened.push_back({Target, WorkingDir});
  }
  std::string MoveToTrash(const std::string& File) override {
    Trashed.push_back(File);
    return Trash ? Trash(File) : MoveToDesktopTrash(File);
  }
  void ShowText(const std::string& Text) override {
    Texts.push_back(Text);
    if (OnShowText)
      OnShowText();
  }
  void ShowOptions() override { ++OptionsShown; }
  std::string SaveFileName(QWidget*, const std::string& Filter,
                           const std::string& Suffix) override {
    SaveFilter = Filter;
    SaveSuffix = Suffix;
    return SaveAnswer;
  }

  std::vector<TBoxCall> Boxes;
  std::deque<TBoxAnswer> Answers; // for Yes/No boxes; Yes when empty
  std::vector<std::string> Sounds;
  std::vector<std::pair<std::string, std::string>> Opened;
  std::vector<std::string> Texts;
  std::vector<std::string> Trashed; // every file asked to go, in order
  // Stands in for the desktop's trash (its answer as MoveToTrash's); unset: the real one.
  std::function<std::string(const std::string&)> Trash;
  int OptionsShown = 0;
  std::string SaveAnswer;
  std::string SaveFilter, SaveSuffix;
  std::function<void()> OnBox;
  std::function<void()> OnShowText;
};

} // namespace gf::test
