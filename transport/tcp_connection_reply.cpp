// The command-and-reply exchange of TIdTCPConnection: numeric replies of
// one line, or several lines "ddd-..." closed by "ddd ...".

#include "framework/sysutils.h"
#include "transport/exceptions.h"
#include "transport/tcp_connection.h"

namespace ah {

int16_t TIdTCPConnection::SendCommand(const std::string& line,
                                      std::initializer_list<int16_t> allowed) {
  SendLine(line);
  return ReadReply(allowed);
}

int16_t TIdTCPConnection::ReadReply(std::initializer_list<int16_t> allowed) {
  TStringList lines;
  std::string line = ReceiveNonEmptyLine(0x7FFFFFFF);
  lines.Add(line);
  if (line.size() > 3 && line[3] == '-') {
    const std::string end_marker = line.substr(0, 3) + " ";
    do {
      line = ReceiveNonEmptyLine(0x7FFFFFFF);
      lines.Add(line);
    } while (line.size() >= 4 && !SameText(line.substr(0, 4), end_marker));
  }
  last_reply_->ParseReplyLines(lines);
  return CheckReplyCode(int16_t(last_reply_->NumericCode()), allowed);
}

void TIdTCPConnection::RaiseReplyError(TIdExceptionClass raise_as) {
  const std::string text = last_reply_->Text().Text();
  if (raise_as) raise_as(text);
  // A thrower that returns would leave the caller without a reply.
  throw EIdProtocolReplyError(last_reply_->NumericCode(), text);
}

}  // namespace ah
