#include "app/cli/terminal_prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace ah {

namespace {

constexpr size_t kLongestLine = 4096;

void WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

// Reads to the line end; none when a signal or an error came first, or
// the input ended before anything was typed.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0) return std::nullopt;  // a stop signal lands here as EINTR
    if (n == 0) return line.empty() ? std::nullopt : std::optional(line);
    if (c == '\n') return line;
    if (line.size() < kLongestLine) line += c;
  }
}

}  // namespace

std::optional<std::string> AskOnTerminal(const std::string& prompt) {
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return std::nullopt;
  termios shown {};
  if (::tcgetattr(tty, &shown) != 0) {
    ::close(tty);
    return std::nullopt;
  }
  termios hidden = shown;
  // The typed line end still shows, so what follows starts a line of its own.
  hidden.c_lflag = (hidden.c_lflag & ~tcflag_t(ECHO)) | ECHONL;
  ::tcsetattr(tty, TCSAFLUSH, &hidden);
  WriteAll(tty, prompt);
  std::optional<std::string> line = ReadLine(tty);
  ::tcsetattr(tty, TCSAFLUSH, &shown);
  if (!line) WriteAll(tty, "\n");
  ::close(tty);
  if (line && line->ends_with('\r')) line->pop_back();
  return line;
}

}  // namespace ah
