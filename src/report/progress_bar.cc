#include "report/progress_bar.h"

#include <cstdio>

#include "base/platform.h"

namespace {

constexpr auto kDelay = std::chrono::seconds(1);
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr uint32_t kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(const char* label, const char* unit)
    : label_(label), unit_(unit), enabled_(sys_stderr_is_terminal()), start_(Clock::now()) {}

void ProgressBar::Update(uint64_t done, uint64_t total, uint32_t step, uint32_t steps) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < kDelay || (drawn_ && now - lastDraw_ < kRedrawInterval)) return;
  lastDraw_ = now;

  const double fraction =
      total == 0 ? 0.0
                 : (done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total));
  char bar[kBarWidth + 1];
  const uint32_t filled = static_cast<uint32_t>(fraction * kBarWidth);
  for (uint32_t i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  char line[160];
  int length = std::snprintf(line, sizeof(line), "\r%s [%s] %3u%%  %u/%u %s", label_, bar,
                             static_cast<unsigned>(fraction * 100), step, steps, unit_);
  if (length < 0) return;
  if (static_cast<size_t>(length) >= sizeof(line)) length = sizeof(line) - 1;
  // A shorter line than the last one must cover what that one left.
  std::fputs(line, stderr);
  for (uint32_t i = static_cast<uint32_t>(length); i < drawnLength_; ++i) std::fputc(' ', stderr);
  std::fflush(stderr);
  drawnLength_ = static_cast<uint32_t>(length);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (drawn_) {
    std::fputc('\r', stderr);
    for (uint32_t i = 1; i < drawnLength_; ++i) std::fputc(' ', stderr);
    std::fputc('\r', stderr);
    std::fflush(stderr);
  }
  drawn_ = false;
  enabled_ = false;
}
