#pragma once
// Reads demo-site pages the way the harvest run reads the real site's pages:
// album pages split at double quotes and every line break, photo pages split
// at double quotes only, then the run's substring tests. Kept apart from the
// run's own code on purpose: these tests pin the site, not the harvester.

#include <string>
#include <string_view>
#include <vector>

namespace ah::testing_pages {

inline std::string QuotesToCrLf(std::string_view page) {
  std::string out;
  for (char c : page) {
    if (c == '"')
      out += "\r\n";
    else
      out += c;
  }
  return out;
}

// The line list's rule: CR LF, lone CR and lone LF all end a line; a final
// break adds no empty line; NUL ends the text.
inline std::vector<std::string> AlbumPageLines(std::string_view page) {
  std::string text = QuotesToCrLf(page.substr(0, page.find('\0')));
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The scratch buffer's rule: only CR LF pairs separate lines.
inline std::vector<std::string> PhotoPageLines(std::string_view page) {
  std::string text = QuotesToCrLf(page);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
    lines.push_back(text.substr(start, pos - start));
  lines.push_back(text.substr(start));
  return lines;
}

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

inline std::string StripTagsAndTrim(std::string_view text) {
  std::string out;
  bool in_tag = false;
  for (char c : text) {
    if (c == '>')
      in_tag = false;
    else if (c == '<' || in_tag)
      in_tag = true;
    else if (c != '\0' && c != '\r')
      out += c;
  }
  size_t b = 0, e = out.size();
  while (b < e && static_cast<unsigned char>(out[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(out[e - 1]) < 33) --e;
  return out.substr(b, e - b);
}

struct AlbumPageReading {
  bool next_page = false;
  std::vector<std::string> titles;       // one per title line, before cleaning
  std::vector<std::string> photo_links;  // lines the run would fetch
  int decoys = 0;                        // marker lines the run skips
};

inline AlbumPageReading ReadAlbumPage(std::string_view page, int number,
                                      std::string_view title_suffix) {
  AlbumPageReading r;
  std::string next = "?page=" + std::to_string(number + 1);
  for (const std::string& line : AlbumPageLines(page)) {
    if (Contains(line, next)) r.next_page = true;
    if (Contains(line, "<title>")) {
      std::string before = line.substr(0, line.find(title_suffix));
      r.titles.push_back(StripTagsAndTrim(before));
    }
    if (Contains(line, "/#mainImageLink")) {
      if (Contains(line, "); return"))
        ++r.decoys;
      else
        r.photo_links.push_back(line);
    }
  }
  return r;
}

struct ImageHit {
  std::string address;
  std::string title;  // tags stripped and trimmed, not cleaned
  bool operator==(const ImageHit&) const = default;
};

inline std::vector<ImageHit> ReadPhotoPage(std::string_view page, std::string_view marker) {
  std::vector<std::string> lines = PhotoPageLines(page);
  auto at = [&lines](size_t k) { return k < lines.size() ? lines[k] : std::string(); };
  std::vector<ImageHit> hits;
  for (size_t k = 0; k < lines.size(); ++k)
    if (Contains(lines[k], marker) && Contains(at(k + 1), "title="))
      hits.push_back({lines[k], StripTagsAndTrim(at(k + 2))});
  return hits;
}

}  // namespace ah::testing_pages
