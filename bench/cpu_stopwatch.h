#pragma once
// What the benchmarks that compare against a reference share: the CPU time of this thread or the
// wall time of the measured part of each iteration, and laps of both sides taken in turn.
//
// Ratios are of medians (at least five laps a side, taken in turn with the reference so that a
// change of load on a shared machine meets both alike), never of each side's luckiest lap.

#include <time.h>

#include <algorithm>
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

// Seconds of the monotonic clock: a lap's wall time, which counts what the work waits for (the
// disk's flushes, another process) as a person waiting for it does.
inline double wallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class Stopwatch {
 public:
  void start() { begin_ = threadCpuSeconds(); }
  void stop() { laps_.push_back(threadCpuSeconds() - begin_); }
  double median() const { return bench_support::median(laps_); }
  const std::vector<double>& laps() const { return laps_; }

 private:
  double begin_ = 0;
  std::vector<double> laps_;
};

// The wall time of one run of `work`.
template <class Work>
double wallLap(Work&& work) {
  const double begin = wallSeconds();
  work();
  return wallSeconds() - begin;
}

// The CPU time of this thread for one run of `work`.
template <class Work>
double cpuLap(Work&& work) {
  const double begin = threadCpuSeconds();
  work();
  return threadCpuSeconds() - begin;
}

// Runs `first` then `second` in an even round and the other way round in an odd one, so that a change
// of load on a shared machine (or a cache the first one warms) meets both alike.
template <class First, class Second>
void inTurn(int round, First&& first, Second&& second) {
  if (round % 2 == 0) {
    first();
    second();
  } else {
    second();
    first();
  }
}

// Laps of our own work and of a reference doing the same, taken in rounds of one lap each, in an
// order that alternates from round to round so that a change of load on a shared machine (or a
// cache the first one warms) meets both alike. Each side is a callable that does its untimed
// preparation itself and returns its lap in seconds; the figures are the medians of the laps.
class AlternatedLaps {
 public:
  // Runs one round; returns our lap.
  template <class Ours, class Reference>
  double round(Ours&& ours, Reference&& reference) {
    double our = 0;
    inTurn(
        rounds_++, [&] { referenceLaps_.push_back(reference()); }, [&] { ourLaps_.push_back(our = ours()); });
    return our;
  }
  double ours() const { return median(ourLaps_); }
  double reference() const { return median(referenceLaps_); }
  // Our median over the reference's; 0 before a round has run.
  double ratio() const { return reference() > 0 ? ours() / reference() : 0; }

 private:
  int rounds_ = 0;
  std::vector<double> ourLaps_, referenceLaps_;
};

}  // namespace bench_support
