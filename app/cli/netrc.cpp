#include "app/cli/netrc.h"

#include "framework/sysutils.h"

namespace ah {

namespace {

class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}

  // The next token; none at the end of the text.
  std::optional<std::string> Next() {
    SkipSpace();
    if (at_ == text_.size()) return std::nullopt;
    std::string token;
    if (text_[at_] != '"') {
      while (at_ < text_.size() && !IsSpace(text_[at_])) token += text_[at_++];
      return token;
    }
    for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
      char c = text_[at_];
      if (c == '\\' && at_ + 1 < text_.size()) {
        c = text_[++at_];
        c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
      }
      token += c;
    }
    if (at_ < text_.size()) ++at_;  // the closing quote
    return token;
  }

  // Skips a macro's body: everything up to the next empty line.
  void SkipMacro() {
    size_t end = text_.find("\n\n", at_);
    at_ = end == std::string_view::npos ? text_.size() : end + 2;
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  void SkipSpace() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }

  std::string_view text_;
  size_t at_ = 0;
};

std::string_view NameOf(std::string_view login) { return login.substr(0, login.rfind('@')); }

}  // namespace

std::vector<NetrcEntry> ReadNetrc(std::string_view text) {
  std::vector<NetrcEntry> entries;
  Tokens tokens(text);
  while (std::optional<std::string> token = tokens.Next()) {
    if (*token == "machine" || *token == "default") {
      entries.push_back({});
      if (*token == "default") entries.back().any_machine = true;
      else entries.back().machine = tokens.Next().value_or("");
      continue;
    }
    if (*token == "macdef") {
      tokens.Next();
      tokens.SkipMacro();
      continue;
    }
    std::optional<std::string> value = tokens.Next();
    if (entries.empty() || !value) continue;
    if (*token == "login") entries.back().login = std::move(value);
    if (*token == "password") entries.back().password = std::move(value);
  }
  return entries;
}

const NetrcEntry* FindNetrcEntry(const std::vector<NetrcEntry>& entries, std::string_view host,
                                 const std::optional<std::string>& login) {
  auto fits = [&login](const NetrcEntry& e) {
    return !login || (e.login && NameOf(*e.login) == *login);
  };
  for (const NetrcEntry& e : entries)
    if (!e.any_machine && SameText(e.machine, host) && fits(e)) return &e;
  for (const NetrcEntry& e : entries)
    if (e.any_machine && fits(e)) return &e;
  return nullptr;
}

}  // namespace ah
