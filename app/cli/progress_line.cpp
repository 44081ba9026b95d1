#include "app/cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ostream>

namespace ah {
namespace {

// Back to the line's start, and the rest of the line cleared.
constexpr const char* kReturn = "\r";
constexpr const char* kClearToEnd = "\x1b[K";
constexpr std::chrono::milliseconds kRedrawInterval{100};

std::atomic<bool> g_resized{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The text's first `columns` characters, each one column wide.
std::string Cut(std::string text, int columns) {
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++count > columns) {
      text.resize(i);
      break;
    }
  }
  return text;
}

std::string Size(double bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%.0f Б", bytes);
  else if (bytes < 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f КБ", bytes / 1024);
  else
    std::snprintf(text, sizeof text, "%.1f МБ", bytes / (1024 * 1024));
  return text;
}

}  // namespace

ProgressLine::ProgressLine(std::ostream& err, Clock clock, Width width)
    : err_(err), clock_(std::move(clock)), width_(std::move(width)), start_(clock_()) {}

void ProgressLine::NoteResize() noexcept { g_resized.store(true, std::memory_order_relaxed); }

int ProgressLine::StderrWidth() {
  winsize size{};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::string ProgressLine::Text(const HarvestProgress& p, double seconds) {
  std::string text = "Страница " + std::to_string(p.page) + " · сохранено " +
                     std::to_string(p.saved) + " · ошибок " + std::to_string(p.failed) +
                     " · найдено " + std::to_string(p.found) + " · потоков " + std::to_string(p.jobs);
  // Fewer than asked: a site that said it was overloaded halved them.
  if (p.jobs < p.jobs_asked) text += " из " + std::to_string(p.jobs_asked);
  text += " · " + Size(double(p.bytes));
  if (seconds > 0) text += " · " + Size(double(p.bytes) / seconds) + "/с";
  return text;
}

void ProgressLine::ShowProgress(const HarvestProgress& progress) {
  if (ended_) return;
  const bool new_page = progress.page != last_.page;
  last_ = progress;
  const bool resized = g_resized.exchange(false, std::memory_order_relaxed);
  if (!new_page && !resized && shown_ && clock_() - drawn_at_ < kRedrawInterval) return;
  Draw();
}

void ProgressLine::Draw() {
  drawn_at_ = clock_();
  const double seconds = std::chrono::duration<double>(drawn_at_ - start_).count();
  std::string text = Text(last_, seconds);
  // The last column stays free: a line that fills it wraps on some
  // terminals.
  if (const int columns = width_ ? width_() : 0; columns > 0) text = Cut(std::move(text), columns - 1);
  err_ << kReturn << text << kClearToEnd << std::flush;
  shown_ = true;
}

void ProgressLine::Hide() {
  if (!shown_) return;
  err_ << kReturn << kClearToEnd << std::flush;
}

void ProgressLine::Restore() {
  if (shown_ && !ended_) Draw();
}

void ProgressLine::End() {
  Hide();
  shown_ = false;
  ended_ = true;
}

}  // namespace ah
