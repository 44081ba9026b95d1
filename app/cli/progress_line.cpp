#include "app/cli/progress_line.h"

#include <cstdio>
#include <ostream>

namespace ah {
namespace {

// Back to the line's start, and the rest of the line cleared.
constexpr const char* kReturn = "\r";
constexpr const char* kClearToEnd = "\x1b[K";
constexpr std::chrono::milliseconds kRedrawInterval{100};

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

ProgressLine::ProgressLine(std::ostream& err, Clock clock)
    : err_(err), clock_(std::move(clock)), start_(clock_()) {}

std::string ProgressLine::Text(const HarvestProgress& p, double seconds) {
  std::string text = "Страница " + std::to_string(p.page) + " · сохранено " +
                     std::to_string(p.saved) + " · ошибок " + std::to_string(p.failed) +
                     " · найдено " + std::to_string(p.found) + " · " + Size(double(p.bytes));
  if (seconds > 0) text += " · " + Size(double(p.bytes) / seconds) + "/с";
  return text;
}

void ProgressLine::ShowProgress(const HarvestProgress& progress) {
  if (ended_) return;
  const bool new_page = progress.page != last_.page;
  last_ = progress;
  if (!new_page && shown_ && clock_() - drawn_at_ < kRedrawInterval) return;
  Draw();
}

void ProgressLine::Draw() {
  drawn_at_ = clock_();
  const double seconds = std::chrono::duration<double>(drawn_at_ - start_).count();
  err_ << kReturn << Text(last_, seconds) << kClearToEnd << std::flush;
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
