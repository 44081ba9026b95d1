#pragma once
// Message headers kept as raw text lines ("name: value"), with folding of
// long values into continuation lines on write and unfolding on read.

#include <memory>
#include <string>
#include <string_view>

#include "framework/strings.h"

namespace ah {

// A line list, so it can be handed to anything that takes lines. A
// continuation line is a non-empty line that begins with a space or a tab;
// a header owns its line and the continuation lines below it. Absent
// headers read as empty values; nothing here raises on missing names.
class TIdHeaderList : public TStringList {
 public:
  AH_CLASS_NAME(TIdHeaderList)
  TIdHeaderList() = default;

  // Name before the separator (without its trailing blanks), upper-cased
  // unless MatchCase; empty when the line has no separator or the index is
  // outside the list.
  std::string NameOfLine(int index) const;
  // The text after the name and the one separator character, unfolded when
  // UnfoldOnRead, trimmed; empty outside the list.
  std::string ValueOfLine(int index) const;
  // First line whose name equals name ignoring case; -1 when none.
  int IndexOfHeader(std::string_view name) const;
  std::string HeaderValue(std::string_view name) const;
  // Replaces the first header of that name (appends it when absent); an
  // empty value removes it with its continuation lines.
  void SetHeaderValue(std::string_view name, std::string_view value);
  // Appends the value of every header of that name, in line order; a null
  // destination does nothing.
  void ExtractValues(std::string_view name, TStrings* destination) const;

  // The text wrapped at FoldWidth into pieces, continuation pieces
  // beginning with a space. The caller owns the list.
  std::unique_ptr<TStringList> FoldHeaderLine(std::string_view text) const;
  // Word wrap that never breaks inside a double-quoted string and keeps
  // the breaks already in the text.
  static std::string FoldText(std::string_view line, std::string_view break_text,
                              std::string_view break_chars, int max_column);

  const std::string& ValueSeparator() const { return value_separator_; }
  void SetValueSeparator(std::string v) { value_separator_ = std::move(v); }
  bool MatchCase() const { return match_case_; }
  void SetMatchCase(bool v) { match_case_ = v; }
  bool UnfoldOnRead() const { return unfold_on_read_; }
  void SetUnfoldOnRead(bool v) { unfold_on_read_ = v; }
  bool FoldOnWrite() const { return fold_on_write_; }
  void SetFoldOnWrite(bool v) { fold_on_write_ = v; }
  int FoldWidth() const { return fold_width_; }
  void SetFoldWidth(int v) { fold_width_ = v; }

  static bool IsContinuationLine(std::string_view line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
  }

 private:
  void DeleteContinuationLines(int index);
  // The index in line where its name ends (the separator), npos without one.
  size_t NameEnd(std::string_view line) const;
  // Whether the name of line index equals name, ignoring case.
  bool LineHasName(int index, std::string_view name) const;

  std::string value_separator_ = ": ";
  bool match_case_ = false;
  bool unfold_on_read_ = true;
  bool fold_on_write_ = true;
  int fold_width_ = 78;
};

}  // namespace ah
