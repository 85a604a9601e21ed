#pragma once
// What the benchmarks that compare against a reference share: the CPU time of this thread in the
// measured part of each iteration, and the reference's times by the name of their work. Ratios use
// the fastest iteration of each side: on a shared machine wall time, and the slow iterations,
// measure the neighbours.

#include <time.h>

#include <algorithm>
#include <map>
#include <string>

namespace bench_support {

class Stopwatch {
 public:
  void start() { begin_ = now(); }
  void stop() {
    const double lap = now() - begin_;
    fastest_ = fastest_ > 0 ? std::min(fastest_, lap) : lap;
  }
  double fastest() const { return fastest_; }

 private:
  static double now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  double begin_ = 0;
  double fastest_ = 0;
};

// The fastest iteration of each reference benchmark of this run, by the name of its work.
inline std::map<std::string, double>& plainTimes() {
  static std::map<std::string, double> times;
  return times;
}

}  // namespace bench_support
