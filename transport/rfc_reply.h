#pragma once
// A numeric protocol reply: a three-digit code and its text lines.

#include <cstdint>
#include <memory>
#include <string>

#include "framework/collection.h"
#include "framework/strings.h"

namespace ah {

class TIdRFCReply : public TCollectionItem {
 public:
  AH_CLASS_NAME(TIdRFCReply)
  // Starts cleared.
  explicit TIdRFCReply(TCollection* collection = nullptr);

  // Copies code, lines and text code from another reply, clearing first.
  void Assign(const TPersistent& source) override;
  void ClearReply();
  // Clears, then takes the code from the first line ("250-" or "250 ")
  // and every line's text from its fifth character on. Lines that do not
  // start with a number leave NumericCode 0.
  void ParseReplyLines(const TStrings& lines);

  int32_t NumericCode() const { return numeric_code_; }
  // Above 0 also sets TextCode to the decimal text.
  void SetNumericCode(int32_t value);
  TStrings& Text() { return *text_; }
  const TStrings& Text() const { return *text_; }
  void SetText(const TStrings& lines);
  const std::string& TextCode() const { return text_code_; }
  // Non-empty also sets NumericCode (0 when not a number).
  void SetTextCode(std::string value);

 private:
  int32_t numeric_code_ = 0;
  std::unique_ptr<TStringList> text_;
  std::string text_code_;
};

}  // namespace ah
