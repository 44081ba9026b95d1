#include "framework/strings.h"

#include <cstring>

#include "framework/exception.h"
#include "framework/streams.h"
#include "framework/sysutils.h"

namespace ah {

std::string JoinCrLf(const std::vector<std::string>& lines) {
  size_t total = 0;
  for (auto& l : lines) total += l.size() + 2;
  std::string out;
  out.reserve(total);
  for (auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  std::vector<std::string> lines;
  size_t start = 0, i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

void TStrings::IndexError(int index) const {
  throw EStringListError(Format("List index out of bounds (%d)", index));
}

void TStrings::Put(int index, const std::string& s) {
  Delete(index);
  Insert(index, s);
}

int TStrings::Add(const std::string& s) {
  int index = Count();
  Insert(index, s);
  return index;
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0, n = Count(); i < n; ++i) {
    out += Get(i);
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(std::string_view text) {
  Clear();
  for (auto& line : SplitLines(text)) Add(line);
}

std::string TStrings::Names(int index) const {
  std::string line = Get(index);
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int index) const {
  std::string line = Get(index);
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int TStrings::IndexOfName(std::string_view name) const {
  for (int i = 0, n = Count(); i < n; ++i) {
    std::string line = Get(i);
    size_t eq = line.find('=');
    if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name)) return i;
  }
  return -1;
}

std::string TStrings::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(std::string_view name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + value;
  if (i < 0) Add(line);
  else Put(i, line);
}

int TStrings::IndexOf(std::string_view s) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

void TStrings::AddStrings(const TStrings& other) {
  for (int i = 0, n = other.Count(); i < n; ++i) Add(other.Get(i));
}

void TStrings::Assign(const TPersistent& source) {
  if (auto* other = dynamic_cast<const TStrings*>(&source)) {
    if (other == this) return;
    Clear();
    AddStrings(*other);
    return;
  }
  TPersistent::Assign(source);
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string text = Text();
  stream.WriteBuffer(text.data(), int64_t(text.size()));
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t size = stream.Size() - stream.Position();
  std::string text(size_t(size > 0 ? size : 0), '\0');
  if (size > 0) stream.ReadBuffer(text.data(), size);
  SetText(text);
}

void TStrings::SaveToFile(const std::string& file_name) const {
  TFileStream file(file_name, TFileStream::fmCreate);
  SaveToStream(file);
}

void TStrings::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, TFileStream::fmOpenRead);
  LoadFromStream(file);
}

void TStringList::Check(int index, bool allow_end) const {
  if (index < 0 || index > Count() || (!allow_end && index == Count())) IndexError(index);
}

std::string TStringList::Get(int index) const {
  Check(index, false);
  return lines_[size_t(index)];
}

void TStringList::Put(int index, const std::string& s) {
  Check(index, false);
  lines_[size_t(index)] = s;
}

void TStringList::Insert(int index, const std::string& s) {
  Check(index, true);
  lines_.insert(lines_.begin() + index, s);
}

void TStringList::Delete(int index) {
  Check(index, false);
  lines_.erase(lines_.begin() + index);
}

int TStringList::Add(const std::string& s) {
  lines_.push_back(s);
  return Count() - 1;
}

void TStringList::SetText(std::string_view text) { lines_ = SplitLines(text); }

std::string TStringList::Text() const { return JoinCrLf(lines_); }

}  // namespace ah
