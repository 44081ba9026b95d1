#include "app/site/scratch_lines.h"

namespace ah {

std::vector<std::string> SplitAtCrLf(std::string_view text) {
  const std::vector<std::string_view> views = CrLfPieces(text);
  return std::vector<std::string>(views.begin(), views.end());
}

std::vector<std::string_view> CrLfPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t from = 0;
  for (size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", from)) {
    pieces.emplace_back(text.substr(from, at - from));
    from = at + 2;
  }
  pieces.emplace_back(text.substr(from));
  return pieces;
}

std::string_view ScratchLines::Line(int index) const {
  if (index < 0 || index >= Count()) return {};
  std::string_view line = lines_[size_t(index)];
  return line.substr(0, kMaxLineRead);
}

std::string ScratchLines::Get(int index) const { return std::string(Line(index)); }

void ScratchLines::Put(int index, const std::string& s) {
  if (index < 0 || index >= Count()) return;
  Delete(index);
  Insert(index, s);
}

void ScratchLines::Insert(int index, const std::string& s) {
  if (index < 0 || index > Count()) IndexError(index);
  auto pieces = SplitAtCrLf(s);
  lines_.insert(lines_.begin() + index, std::make_move_iterator(pieces.begin()),
                std::make_move_iterator(pieces.end()));
}

void ScratchLines::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  lines_.erase(lines_.begin() + index);
}

int ScratchLines::Add(const std::string& s) {
  int index = Count();
  auto pieces = SplitAtCrLf(s);
  if (lines_.empty()) {
    lines_ = std::move(pieces);
  } else {
    lines_.insert(lines_.end(), std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
  }
  return index;
}

std::string ScratchLines::Text() const { return JoinCrLf(lines_); }

void ScratchLines::SetText(std::string_view text) {
  lines_.clear();
  if (text.empty()) return;
  lines_ = SplitAtCrLf(text);
  // The break after the last line ends it rather than opening a new one.
  if (lines_.size() > 1 && lines_.back().empty() && text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
    lines_.pop_back();
}

}  // namespace ah
