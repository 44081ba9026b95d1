#include "transport/rfc_reply.h"

#include "framework/sysutils.h"

namespace ah {

TIdRFCReply::TIdRFCReply(TCollection* collection)
    : TCollectionItem(collection), text_(std::make_unique<TStringList>()) {}

void TIdRFCReply::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TIdRFCReply*>(&source)) {
    ClearReply();
    numeric_code_ = other->numeric_code_;
    text_->Assign(*other->text_);
    text_code_ = other->text_code_;
    return;
  }
  TCollectionItem::Assign(source);
}

void TIdRFCReply::ClearReply() {
  numeric_code_ = 0;
  text_->Clear();
  text_code_.clear();
}

void TIdRFCReply::ParseReplyLines(const TStrings& lines) {
  ClearReply();
  if (lines.Count() == 0) return;
  std::string code = Trim(lines.Get(0).substr(0, 4));
  if (code.size() == 4 && code[3] == '-') code.resize(3);
  SetTextCode(code);
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines.Get(i);
    text_->Add(line.size() > 4 ? line.substr(4) : std::string());
  }
}

void TIdRFCReply::SetNumericCode(int32_t value) {
  numeric_code_ = value;
  if (value > 0) text_code_ = IntToStr(value);
}

void TIdRFCReply::SetText(const TStrings& lines) { text_->Assign(lines); }

void TIdRFCReply::SetTextCode(std::string value) {
  text_code_ = std::move(value);
  if (!text_code_.empty()) numeric_code_ = StrToIntDef(text_code_, 0);
}

}  // namespace ah
