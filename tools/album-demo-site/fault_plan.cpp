#include "tools/album-demo-site/fault_plan.h"

#include <charconv>

namespace ah {
namespace {

std::optional<int> ReadPositive(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return value;
}

// Ranges beyond this are surely typing mistakes, and would fill memory.
constexpr int kLongestRange = 100000;

}  // namespace

std::optional<std::set<int>> ParseNumberList(std::string_view text) {
  std::set<int> numbers;
  while (true) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    size_t dash = item.find('-');
    auto first = ReadPositive(item.substr(0, dash));
    auto last = dash == std::string_view::npos ? first : ReadPositive(item.substr(dash + 1));
    if (!first || !last || *last < *first || *last - *first > kLongestRange) return std::nullopt;
    for (int n = *first; n <= *last; ++n) numbers.insert(n);
    if (comma == std::string_view::npos) return numbers;
    text.remove_prefix(comma + 1);
  }
}

bool FaultPlan::FailsNow(FaultKind kind, int id) {
  const std::set<int>& ids = kind == FaultKind::kImage       ? faults_.images
                             : kind == FaultKind::kAlbumPage ? faults_.album_pages
                                                             : faults_.photo_pages;
  if (!ids.count(id)) return false;
  std::lock_guard lock(mutex_);
  int& failed = failed_[{kind, id}];
  if (faults_.times > 0 && failed >= faults_.times) return false;
  ++failed;
  return true;
}

bool FaultPlan::CountAndStalls() {
  if (faults_.stall_after < 0) return false;
  std::lock_guard lock(mutex_);
  return ++requests_ > faults_.stall_after && !released_;
}

void FaultPlan::StallUntilReleased() {
  std::unique_lock lock(mutex_);
  released_cv_.wait(lock, [this] { return released_; });
}

void FaultPlan::Release() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  released_cv_.notify_all();
}

void FaultPlan::StartOver() {
  std::lock_guard lock(mutex_);
  failed_.clear();
  requests_ = 0;
}

}  // namespace ah
