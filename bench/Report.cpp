#include "Report.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace pdabench {

namespace {

std::string printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string formatNanoseconds(double ns) {
  if (ns < 1e3) return printed("%.1f ns", ns);
  if (ns < 1e6) return printed("%.2f us", ns / 1e3);
  if (ns < 1e9) return printed("%.2f ms", ns / 1e6);
  return printed("%.2f s", ns / 1e9);
}

std::string formatBytes(double bytes) {
  if (bytes < 1024) return printed("%.0f B", bytes);
  if (bytes < 1024 * 1024) return printed("%.1f KiB", bytes / 1024);
  return printed("%.1f MiB", bytes / (1024 * 1024));
}

void ResultTable::addTimed(const std::string& id, const std::string& title,
                           const std::string& libraryBenchmark,
                           const std::string& baselineBenchmark, Clock clock, double target) {
  Measure m;
  m.id = id;
  m.title = title;
  m.libraryBenchmark = libraryBenchmark;
  m.baselineBenchmark = baselineBenchmark;
  m.clock = clock;
  m.target = target;
  _measures.push_back(m);
}

void ResultTable::addFigures(const std::string& id, const std::string& title, Unit unit,
                             double target) {
  Measure m;
  m.id = id;
  m.title = title;
  m.unit = unit;
  m.target = target;
  _measures.push_back(m);
}

void ResultTable::setFigures(const std::string& id, double library, double baseline) {
  for (Measure& m : _measures) {
    if (m.id == id && m.libraryBenchmark.empty()) {
      m.library = library;
      m.baseline = baseline;
      m.figuresSet = true;
      return;
    }
  }
  throw std::invalid_argument("no measure with given figures is called " + id);
}

void ResultTable::recordMedian(const std::string& benchmark, double cpuNanoseconds,
                               double realNanoseconds) {
  _medians[benchmark] = Median{cpuNanoseconds, realNanoseconds};
}

bool ResultTable::hasMedian(const std::string& benchmark) const {
  return _medians.count(benchmark) != 0;
}

std::vector<Row> ResultTable::rows() const {
  std::vector<Row> out;
  for (const Measure& m : _measures) {
    Row row;
    row.id = m.id;
    row.title = m.title;
    row.target = m.target;
    row.reference = !(m.target > 0.0);
    row.library = row.baseline = "-";
    double library = 0.0, baseline = 0.0;
    if (m.libraryBenchmark.empty()) {
      row.run = m.figuresSet;
      library = m.library;
      baseline = m.baseline;
    } else {
      const auto l = _medians.find(m.libraryBenchmark);
      const auto b = _medians.find(m.baselineBenchmark);
      row.run = l != _medians.end() && b != _medians.end();
      if (row.run) {
        library = m.clock == Clock::cpu ? l->second.cpu : l->second.real;
        baseline = m.clock == Clock::cpu ? b->second.cpu : b->second.real;
      }
    }
    // A baseline of nothing gives no ratio: the measure cannot be judged.
    if (row.run && !(baseline > 0.0 && std::isfinite(library) && std::isfinite(baseline)))
      row.run = false;
    if (row.run) {
      const bool bytes = m.unit == Unit::bytes;
      row.library = bytes ? formatBytes(library) : formatNanoseconds(library);
      row.baseline = bytes ? formatBytes(baseline) : formatNanoseconds(baseline);
      row.ratio = library / baseline;
      row.met = !row.reference && row.ratio <= m.target;
    }
    out.push_back(row);
  }
  return out;
}

bool ResultTable::allMet() const {
  bool any = false;
  for (const Row& row : rows()) {
    if (!row.run || row.reference) continue;
    any = true;
    if (!row.met) return false;
  }
  return any;
}

std::string ResultTable::render() const {
  std::string out =
      "| # | measure | library (median) | baseline (median) | ratio | target | result |\n"
      "|---|---|---|---|---|---|---|\n";
  for (const Row& row : rows()) {
    out += "| " + row.id + " | " + row.title + " | " + row.library + " | " + row.baseline + " | ";
    out += row.run ? printed("%.2fx", row.ratio) : std::string("-");
    out += " | " + (row.reference ? std::string("-") : printed("<= %.2fx", row.target)) + " | ";
    out += !row.run ? "not run" : row.reference ? "reference" : row.met ? "met" : "MISSED";
    out += " |\n";
  }
  return out;
}

}  // namespace pdabench
