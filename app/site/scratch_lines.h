#pragma once
// The scratch line buffer of the harvest run, with the line rules of the
// window's hidden multi-line edit that the run relies on:
//  - the content is cut into lines at CR LF pairs only (a lone CR or LF
//    stays inside its line);
//  - Add(text) appends text plus a line break, so on an empty buffer it
//    leaves one line per CR-LF-separated piece of text, a trailing CR LF
//    giving a last empty line;
//  - a line reads back as at most its first 4096 characters, and reading
//    an index outside 0..Count-1 gives empty text instead of an error;
//  - Text() gives the lines uncut, each followed by CR LF.

#include <string>
#include <string_view>
#include <vector>

#include "framework/strings.h"

namespace ah {

class ScratchLines : public TStrings {
 public:
  AH_CLASS_NAME(ScratchLines)
  static constexpr size_t kMaxLineRead = 4096;

  int Count() const override { return int(lines_.size()); }
  std::string Get(int index) const override;
  // Text holding CR LF becomes several lines, as typed into the edit.
  void Put(int index, const std::string& s) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override { lines_.clear(); }
  int Add(const std::string& s) override;
  std::string Text() const override;
  // The whole content becomes text; cut at CR LF only.
  void SetText(std::string_view text) override;

  // The line cut as Get cuts it, without a copy; empty outside the lines.
  std::string_view Line(int index) const;

 private:
  std::vector<std::string> lines_;
};

// Cuts text at CR LF pairs only; a final CR LF ends the last piece, which
// is then empty.
std::vector<std::string> SplitAtCrLf(std::string_view text);
// The same pieces as views into `text`.
std::vector<std::string_view> CrLfPieces(std::string_view text);

}  // namespace ah
