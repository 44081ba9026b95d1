#pragma once
// A password typed on the terminal, as getpass and wget --ask-password read
// it: the prompt and the reading go to the controlling terminal, not to
// stdin and stdout, so a run whose output is piped still asks.

#include <optional>
#include <string>

namespace ah {

// Shows `prompt` and reads one line with echo off (the line end is not part
// of it). None when there is no terminal or the read was interrupted.
std::optional<std::string> AskOnTerminal(const std::string& prompt);

}  // namespace ah
