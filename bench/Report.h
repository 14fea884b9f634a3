#pragma once

// The result table of a benchmark run: each measure compares the median of a
// library benchmark with the median of its baseline (or two figures given
// directly, such as bytes), and says whether the ratio stays within the
// measure's target.

#include <map>
#include <string>
#include <vector>

namespace pdabench {

enum class Clock { cpu, real };
enum class Unit { time, bytes };

struct Row {
  std::string id;
  std::string title;
  std::string library;     // the library's figure, formatted; "-" when not run
  std::string baseline;    // the baseline's figure, formatted
  double ratio = 0.0;      // library / baseline; 0 when not run
  double target = 0.0;     // the highest ratio that meets the target
  bool reference = false;  // shown for comparison only: no target to meet
  bool run = false;        // both figures are known
  bool met = false;        // run and ratio <= target (a reference row is never met)
};

class ResultTable {
 public:
  // A timed measure: the medians of two benchmarks, on the given clock. A
  // target of 0 makes it a reference row, shown beside the measures it
  // explains and never judged.
  void addTimed(const std::string& id, const std::string& title,
                const std::string& libraryBenchmark, const std::string& baselineBenchmark,
                Clock clock, double target);
  // A measure whose figures are given by setFigures.
  void addFigures(const std::string& id, const std::string& title, Unit unit, double target);
  void setFigures(const std::string& id, double library, double baseline);

  // The median of a benchmark, in nanoseconds per iteration.
  void recordMedian(const std::string& benchmark, double cpuNanoseconds, double realNanoseconds);
  bool hasMedian(const std::string& benchmark) const;

  std::vector<Row> rows() const;
  // Whether every measure that ran met its target, and at least one ran
  // (reference rows aside).
  bool allMet() const;
  // The rows as a Markdown table.
  std::string render() const;

 private:
  struct Measure {
    std::string id;
    std::string title;
    std::string libraryBenchmark;  // empty for a measure with given figures
    std::string baselineBenchmark;
    Clock clock = Clock::cpu;
    Unit unit = Unit::time;
    double target = 0.0;
    bool figuresSet = false;
    double library = 0.0;
    double baseline = 0.0;
  };
  struct Median {
    double cpu = 0.0;
    double real = 0.0;
  };
  std::vector<Measure> _measures;
  std::map<std::string, Median> _medians;
};

// "812.4 ns", "3.21 us", "17.9 ms", "1.20 s".
std::string formatNanoseconds(double nanoseconds);
// "512 B", "3.2 KiB", "41.7 MiB".
std::string formatBytes(double bytes);

}  // namespace pdabench
