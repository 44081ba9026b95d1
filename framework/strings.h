#pragma once
// Ordered lists of text lines. TStrings is the interface every line list
// offers (the scratch memo of the window implements it too); TStringList is
// the plain in-memory list.

#include <string>
#include <string_view>
#include <vector>

#include "framework/persistent.h"

namespace ah {

class TStream;

class TStrings : public TPersistent {
 public:
  AH_CLASS_NAME(TStrings)

  virtual int Count() const = 0;
  // Raises EStringListError "List index out of bounds (%d)" outside 0..Count-1.
  virtual std::string Get(int index) const = 0;
  virtual void Put(int index, const std::string& s);
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  // Appends one entry; returns its index.
  virtual int Add(const std::string& s);

  // Every line followed by CR LF.
  virtual std::string Text() const;
  // Replaces the lines with text cut at CR LF, lone CR and lone LF; the
  // first NUL ends the text; a final break gives no extra empty line.
  virtual void SetText(std::string_view text);

  // name=value access; names compare ignoring ASCII case.
  std::string Names(int index) const;           // text before the first "="
  std::string ValueFromIndex(int index) const;  // text after the first "="
  int IndexOfName(std::string_view name) const;
  std::string Values(std::string_view name) const;
  // An empty value deletes the line; a missing name is appended.
  void SetValues(std::string_view name, const std::string& value);

  // Exact match of a whole line ignoring ASCII case; -1 when absent.
  virtual int IndexOf(std::string_view s) const;
  void AddStrings(const TStrings& other);
  void Assign(const TPersistent& source) override;

  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);
  // File failures raise EFCreateError / EFOpenError with the full path.
  void SaveToFile(const std::string& file_name) const;
  void LoadFromFile(const std::string& file_name);

 protected:
  [[noreturn]] void IndexError(int index) const;
};

// Splits text by the line list's rule (see TStrings::SetText).
std::vector<std::string> SplitLines(std::string_view text);
// Each line followed by CR LF, the last one too.
std::string JoinCrLf(const std::vector<std::string>& lines);

class TStringList : public TStrings {
 public:
  AH_CLASS_NAME(TStringList)
  TStringList() = default;
  explicit TStringList(std::vector<std::string> lines) : lines_(std::move(lines)) {}

  int Count() const override { return int(lines_.size()); }
  std::string Get(int index) const override;
  void Put(int index, const std::string& s) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override { lines_.clear(); }
  int Add(const std::string& s) override;
  void SetText(std::string_view text) override;
  std::string Text() const override;

  // Direct access without a copy, for hot loops.
  const std::string& operator[](int index) const { return lines_[size_t(index)]; }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  void Check(int index, bool allow_end) const;
  std::vector<std::string> lines_;
};

}  // namespace ah
