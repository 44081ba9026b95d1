#include "http/header_list.h"

#include "framework/sysutils.h"
#include "framework/text_tokens.h"

namespace ah {

size_t TIdHeaderList::NameEnd(std::string_view line) const {
  const std::string separator = TrimRight(value_separator_);
  if (separator.empty()) return std::string_view::npos;
  // Searching the line as it stands finds what the upper-cased line would
  // give unless the separator itself has lower-case letters.
  if (match_case_ || UpperCase(separator) == separator) return line.find(separator);
  return UpperCase(line).find(separator);
}

std::string TIdHeaderList::NameOfLine(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::string& line = (*this)[index];
  const size_t end = NameEnd(line);
  if (end == std::string_view::npos) return {};
  return match_case_ ? line.substr(0, end) : UpperCase(std::string_view(line).substr(0, end));
}

std::string TIdHeaderList::ValueOfLine(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::string& line = (*this)[index];
  // Skips the name and one separator character; the rest of the separator
  // goes with the final trim.
  const size_t end = NameEnd(line);
  const size_t skip = (end == std::string_view::npos ? 0 : end) + 1;
  std::string value = skip < line.size() ? line.substr(skip) : std::string();
  if (unfold_on_read_) {
    // Joined in place: each continuation costs its own length only. Only the
    // right end needs trimming on the way; the final trim does the left.
    for (int i = index + 1; i < Count() && IsContinuationLine((*this)[i]); ++i) {
      while (!value.empty() && static_cast<unsigned char>(value.back()) < 33) value.pop_back();
      value += ' ';
      value += Trim((*this)[i]);
    }
  }
  return Trim(value);
}

bool TIdHeaderList::LineHasName(int index, std::string_view name) const {
  const std::string& line = (*this)[index];
  const size_t end = NameEnd(line);
  return SameText(end == std::string_view::npos ? std::string_view()
                                                 : std::string_view(line).substr(0, end),
                  name);
}

int TIdHeaderList::IndexOfHeader(std::string_view name) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (LineHasName(i, name)) return i;
  return -1;
}

std::string TIdHeaderList::HeaderValue(std::string_view name) const {
  return ValueOfLine(IndexOfHeader(name));
}

void TIdHeaderList::DeleteContinuationLines(int index) {
  while (index + 1 < Count() && IsContinuationLine((*this)[index + 1])) Delete(index + 1);
}

void TIdHeaderList::SetHeaderValue(std::string_view name, std::string_view value) {
  int i = IndexOfHeader(name);
  if (value.empty()) {
    if (i < 0) return;
    if (fold_on_write_) DeleteContinuationLines(i);
    Delete(i);
    return;
  }
  if (i < 0) i = Add("");
  std::string line = std::string(name) + value_separator_ + std::string(value);
  if (!fold_on_write_) {
    Put(i, line);
    return;
  }
  DeleteContinuationLines(i);
  auto pieces = FoldHeaderLine(line);
  const auto& p = pieces->Lines();
  Put(i, p.back());
  for (int k = int(p.size()) - 2; k >= 0; --k) Insert(i, p[size_t(k)]);
}

void TIdHeaderList::ExtractValues(std::string_view name, TStrings* destination) const {
  if (!destination) return;
  for (int i = 0, n = Count(); i < n; ++i)
    if (LineHasName(i, name)) destination->Add(ValueOfLine(i));
}

std::unique_ptr<TStringList> TIdHeaderList::FoldHeaderLine(std::string_view text) const {
  auto list = std::make_unique<TStringList>();
  const std::string folded = FoldText(text, "\r\n ", "\t ,", fold_width_);
  size_t start = 0;
  for (;;) {
    const size_t brk = folded.find("\r\n", start);
    std::string piece = TrimRight(std::string_view(folded).substr(start, brk - start));
    // A piece of nothing but blanks would be an empty line, which is no
    // continuation line: it would stay behind when the header is removed
    // and end the head early on the wire.
    if (!piece.empty() || list->Count() == 0) list->Add(std::move(piece));
    if (brk == std::string::npos) break;
    start = brk + 2;
  }
  return list;
}

std::string TIdHeaderList::FoldText(std::string_view line, std::string_view break_text,
                                    std::string_view break_chars, int max_column) {
  // 1-based positions, as the wrap rule is stated in columns.
  const long len = long(line.size());
  auto at = [&](long pos) { return line[size_t(pos - 1)]; };
  auto is_break_char = [&](char c) { return break_chars.find(c) != std::string_view::npos; };
  long p = 1, column = 1, line_start = 1, break_pos = 0;
  bool in_quote = false, existing_break = false;
  std::string result;
  while (p <= len) {
    const char ch = at(p);
    // The system code page has no lead bytes, so no pair needs keeping.
    if (!break_text.empty() && ch == break_text[0]) {
      if (!in_quote) {
        existing_break = SameText(line.substr(size_t(p - 1), break_text.size()), break_text);
        if (existing_break) {
          p += long(break_text.size()) - 1;
          break_pos = p;
        }
      }
    } else if (is_break_char(ch)) {
      if (!in_quote) break_pos = p;
    } else if (ch == '"') {
      in_quote = !in_quote;
    }
    ++p;
    ++column;
    if (!in_quote && (existing_break || (column > max_column && break_pos > line_start))) {
      column = p - break_pos;
      result.append(line.substr(size_t(line_start - 1), size_t(break_pos - line_start + 1)));
      if (ch != '"') {
        while (p <= len && (is_break_char(at(p)) || at(p) == '\r' || at(p) == '\n')) ++p;
      }
      if (!existing_break && p < len) result.append(break_text);
      line_start = break_pos + 1;
      existing_break = false;
    }
  }
  if (line_start <= len) result.append(line.substr(size_t(line_start - 1)));
  return result;
}

}  // namespace ah
