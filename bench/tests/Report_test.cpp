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

TEST(ResultTable, JudgesEachMeasureOnItsOwnClockAndTarget) {
  ResultTable table;
  table.addTimed("cpu", "on CPU time", "a/library", "a/baseline", Clock::cpu, 2.0);
  table.addTimed("real", "on wall time", "a/library", "a/baseline", Clock::real, 2.0);
  table.recordMedian("a/library", 300.0, 900.0);
  table.recordMedian("a/baseline", 100.0, 600.0);

  const std::vector<Row> rows = table.rows();
  EXPECT_DOUBLE_EQ(rowOf(rows, "cpu").ratio, 3.0);
  EXPECT_FALSE(rowOf(rows, "cpu").met);
  EXPECT_DOUBLE_EQ(rowOf(rows, "real").ratio, 1.5);
  EXPECT_TRUE(rowOf(rows, "real").met);
  EXPECT_EQ(rowOf(rows, "real").library, "900.0 ns");
  EXPECT_FALSE(table.allMet());

  // A ratio exactly at the target meets it; any more misses it.
  table.addTimed("at", "at", "l", "b", Clock::cpu, 1.15);
  table.addTimed("over", "over", "l2", "b", Clock::cpu, 1.15);
  table.recordMedian("b", 100.0, 0.0);
  table.recordMedian("l", 115.0, 0.0);
  table.recordMedian("l2", 115.01, 0.0);
  EXPECT_TRUE(rowOf(table.rows(), "at").met);
  EXPECT_FALSE(rowOf(table.rows(), "over").met);
}

TEST(ResultTable, MeasuresWithoutBothFiguresAreNotRunAndNotJudged) {
  ResultTable table;
  table.addTimed("half", "baseline missing", "l", "b", Clock::cpu, 2.0);
  table.addTimed("zero", "baseline of nothing", "l", "z", Clock::cpu, 2.0);
  table.addFigures("mem", "bytes", Unit::bytes, 4.0);
  table.recordMedian("l", 10.0, 10.0);
  table.recordMedian("z", 0.0, 0.0);
  EXPECT_FALSE(table.allMet()) << "nothing ran, so nothing was shown to be met";
  for (const Row& row : table.rows()) {
    EXPECT_FALSE(row.run) << row.id;
    EXPECT_EQ(row.library, "-") << row.id;
  }
  EXPECT_NE(table.render().find("not run"), std::string::npos);

  table.setFigures("mem", 3.0 * 1024 * 1024, 1024 * 1024);
  const Row mem = rowOf(table.rows(), "mem");
  EXPECT_TRUE(mem.run);
  EXPECT_DOUBLE_EQ(mem.ratio, 3.0);
  EXPECT_EQ(mem.library, "3.0 MiB");
  EXPECT_TRUE(table.allMet()) << "the one measure that ran met its target";

  table.setFigures("mem", std::numeric_limits<double>::infinity(), 1.0);
  EXPECT_FALSE(rowOf(table.rows(), "mem").run);
}

TEST(ResultTable, GivenFiguresOnlyForMeasuresThatTakeThem) {
  ResultTable table;
  table.addTimed("t", "timed", "l", "b", Clock::cpu, 2.0);
  EXPECT_THROW(table.setFigures("t", 1.0, 1.0), std::invalid_argument);
  EXPECT_THROW(table.setFigures("unknown", 1.0, 1.0), std::invalid_argument);
}

TEST(ResultTable, RendersOneMarkdownRowPerMeasureWithItsVerdictAndReferencesUnjudged) {
  ResultTable table;
  table.addTimed("1", "met one", "l", "b", Clock::cpu, 2.0);
  table.addTimed("r", "reference", "b", "l", Clock::cpu, 0.0);
  table.recordMedian("l", 1500.0, 0.0);
  table.recordMedian("b", 1000.0, 0.0);
  const Row reference = rowOf(table.rows(), "r");
  EXPECT_TRUE(reference.run && reference.reference);
  EXPECT_FALSE(reference.met) << "a reference row is shown but never judged";
  EXPECT_DOUBLE_EQ(reference.ratio, 1000.0 / 1500.0);
  EXPECT_TRUE(table.allMet()) << "the one judged measure met its target";
  table.addTimed("2", "missed one", "l", "b", Clock::cpu, 0.5);
  const std::string text = table.render();
  EXPECT_NE(text.find("| 1 | met one | 1.50 us | 1.00 us | 1.50x | <= 2.00x | met |"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("| 2 | missed one | 1.50 us | 1.00 us | 1.50x | <= 0.50x | MISSED |"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("| 0.67x | - | reference |"), std::string::npos) << text;
}

TEST(Formatting, UnitsChangeAtTheirBoundaries) {
  EXPECT_EQ(formatNanoseconds(999.94), "999.9 ns");
  EXPECT_EQ(formatNanoseconds(1000.0), "1.00 us");
  EXPECT_EQ(formatNanoseconds(2.5e6), "2.50 ms");
  EXPECT_EQ(formatNanoseconds(3e9), "3.00 s");
  EXPECT_EQ(formatBytes(1023), "1023 B");
  EXPECT_EQ(formatBytes(1024), "1.0 KiB");
  EXPECT_EQ(formatBytes(5.5 * 1024 * 1024), "5.5 MiB");
}

}  // namespace
}  // namespace pdabench
