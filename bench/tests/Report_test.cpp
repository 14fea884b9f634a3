#include "Report.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace pdabench {
namespace {

const Row& rowOf(const std::vector<Row>& rows, const std::string& id) {
  for (const Row& row : rows)
    if (row.id == id) return row;
  throw std::out_of_range("no row " + id);
}

// The verdicts the README's table shows: each measure on its own clock, a ratio
// at the target meets it, a reference row is never judged.
TEST(ResultTable, JudgesEachMeasureOnItsOwnClockAndTargetAndRendersTheVerdicts) {
  ResultTable table;
  table.addTimed("cpu", "on CPU time", "a/library", "a/baseline", Clock::cpu, 2.0);
  table.addTimed("real", "on wall time", "a/library", "a/baseline", Clock::real, 2.0);
  table.addTimed("at", "at", "l", "b", Clock::cpu, 1.15);
  table.addTimed("over", "over", "l2", "b", Clock::cpu, 1.15);
  table.addTimed("r", "reference", "b", "l", Clock::cpu, 0.0);
  table.recordMedian("a/library", 300.0, 900.0);
  table.recordMedian("a/baseline", 100.0, 600.0);
  table.recordMedian("b", 1000.0, 0.0);
  table.recordMedian("l", 1150.0, 0.0);
  table.recordMedian("l2", 1150.1, 0.0);
  const std::vector<Row> rows = table.rows();
  EXPECT_DOUBLE_EQ(rowOf(rows, "cpu").ratio, 3.0);
  EXPECT_FALSE(rowOf(rows, "cpu").met);
  EXPECT_DOUBLE_EQ(rowOf(rows, "real").ratio, 1.5);
  EXPECT_TRUE(rowOf(rows, "real").met);
  EXPECT_TRUE(rowOf(rows, "at").met);
  EXPECT_FALSE(rowOf(rows, "over").met);
  EXPECT_TRUE(rowOf(rows, "r").run && rowOf(rows, "r").reference && !rowOf(rows, "r").met);
  EXPECT_FALSE(table.allMet());
  const std::string text = table.render();
  EXPECT_NE(text.find("| real | on wall time | 900.0 ns | 600.0 ns | 1.50x | <= 2.00x | met |"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("| over | over | 1.15 us | 1.00 us | 1.15x | <= 1.15x | MISSED |"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("| 0.87x | - | reference |"), std::string::npos) << text;
  EXPECT_EQ(formatNanoseconds(2.5e6), "2.50 ms");
  EXPECT_EQ(formatNanoseconds(3e9), "3.00 s");
}

// A measure without both figures is shown as not run and met by nobody.
TEST(ResultTable, MeasuresWithoutBothFiguresAreNotRunAndNotJudged) {
  ResultTable table;
  table.addTimed("half", "baseline missing", "l", "b", Clock::cpu, 2.0);
  table.addTimed("zero", "baseline of nothing", "l", "z", Clock::cpu, 2.0);
  table.addFigures("mem", "bytes", Unit::bytes, 4.0);
  table.recordMedian("l", 10.0, 10.0);
  table.recordMedian("z", 0.0, 0.0);
  EXPECT_FALSE(table.allMet()) << "nothing ran, so nothing was shown to be met";
  for (const Row& row : table.rows()) EXPECT_FALSE(row.run) << row.id;
  EXPECT_NE(table.render().find("not run"), std::string::npos);
  EXPECT_THROW(table.setFigures("half", 1.0, 1.0), std::invalid_argument);
  table.setFigures("mem", 3.0 * 1024 * 1024, 1024 * 1024);
  EXPECT_EQ(rowOf(table.rows(), "mem").library, "3.0 MiB");
  EXPECT_TRUE(table.allMet()) << "the one measure that ran met its target";
  table.setFigures("mem", std::numeric_limits<double>::infinity(), 1.0);
  EXPECT_FALSE(rowOf(table.rows(), "mem").run);
}

}  // namespace
}  // namespace pdabench
