#ifndef VINTREL_REPORT_PROGRESS_BAR_H_
#define VINTREL_REPORT_PROGRESS_BAR_H_

#include <chrono>
#include <cstdint>

// A progress bar on standard error for work that may take long. It is drawn only when standard
// error is a terminal, and only once the work has run for more than a second, so that quick runs
// and redirected output stay clean; it is redrawn at most ten times a second and erased by Finish
// or the destructor. Anything else written to the terminal meanwhile must wait for Finish.
class ProgressBar {
 public:
  // label comes first on the line ("verifying"); unit names what steps count ("packages").
  ProgressBar(const char* label, const char* unit);
  ~ProgressBar() { Finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // done of total units of work are finished, and step of steps counted items (done <= total,
  // step <= steps).
  void Update(uint64_t done, uint64_t total, uint32_t step, uint32_t steps);
  // Erases the bar if it was drawn; later updates draw nothing.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;

  const char* label_;
  const char* unit_;
  bool enabled_;
  bool drawn_ = false;
  uint32_t drawnLength_ = 0;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
};

#endif  // VINTREL_REPORT_PROGRESS_BAR_H_
