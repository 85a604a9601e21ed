#pragma once
// What the benchmarks that compare against a reference share: the CPU time of this thread in the
// measured part of each iteration, and the reference's times by the name of their work.
//
// Ratios are of medians (at least five laps a side, taken in turn with the reference so that a
// change of load on a shared machine meets both alike). `fastest()` stays for the benchmarks that
// still compare their best laps.

#include <time.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace bench_support {

// The median of the laps (the mean of the two middle ones for an even count); 0 for none.
inline double median(std::vector<double> laps) {
  if (laps.empty()) return 0;
  const size_t middle = laps.size() / 2;
  std::nth_element(laps.begin(), laps.begin() + static_cast<std::ptrdiff_t>(middle), laps.end());
  const double upper = laps[middle];
  if (laps.size() % 2 == 1) return upper;
  const double lower = *std::max_element(laps.begin(), laps.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) / 2;
}

// CPU seconds of the calling thread.
inline double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class Stopwatch {
 public:
  void start() { begin_ = threadCpuSeconds(); }
  void stop() { laps_.push_back(threadCpuSeconds() - begin_); }
  double fastest() const { return laps_.empty() ? 0 : *std::min_element(laps_.begin(), laps_.end()); }
  double median() const { return bench_support::median(laps_); }
  const std::vector<double>& laps() const { return laps_; }

 private:
  double begin_ = 0;
  std::vector<double> laps_;
};

// The fastest iteration of each reference benchmark of this run, by the name of its work.
inline std::map<std::string, double>& plainTimes() {
  static std::map<std::string, double> times;
  return times;
}

}  // namespace bench_support
