#pragma once
// The live line album-harvest keeps on a terminal's stderr while it runs:
// the album page, the photos saved, failed and found so far, the jobs in
// use, the bytes and the rate. It is redrawn in place, erased while a log line goes out, and
// gone when the run ends; nothing of it reaches stdout or the log. It is
// cut to the terminal's width, so that it never wraps into a second line
// that the next redraw would leave behind.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>

#include "app/harvest/harvest_run.h"

namespace ah {

class ProgressLine : public HarvestProgressView {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // The terminal's columns; 0 when unknown (the line is then not cut).
  using Width = std::function<int()>;

  explicit ProgressLine(std::ostream& err, Clock clock = std::chrono::steady_clock::now,
                        Width width = StderrWidth);

  // Redrawn at most ten times a second, and whenever the page changes or
  // the terminal was resized.
  void ShowProgress(const HarvestProgress& progress) override;
  // The terminal changed its size (SIGWINCH); safe in a signal handler.
  static void NoteResize() noexcept;
  // The width of the terminal on stderr (TIOCGWINSZ).
  static int StderrWidth();
  // Around a log line on the same terminal.
  void Hide();
  void Restore();
  // Erased for good.
  void End();

  // The line (UTF-8), `seconds` after the start.
  static std::string Text(const HarvestProgress& progress, double seconds);

 private:
  void Draw();

  std::ostream& err_;
  Clock clock_;
  Width width_;
  std::chrono::steady_clock::time_point start_, drawn_at_;
  HarvestProgress last_;
  bool shown_ = false;
  bool ended_ = false;
};

}  // namespace ah
