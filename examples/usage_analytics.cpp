// Usage statistics: which process used VISA's C, COM or .NET interface and
// when, and counts of remote sessions. The suite's installer creates the
// analytics database "DataAnalytics.db" and its tables; the library only
// adds rows. Times are the caller's texts, stored as they are.
#include <PersistedDataAccess.h>

#include <cstdio>

int main() {
  // No path: "DataAnalytics.db" in the suite's data directory. Nothing is
  // loaded or opened until the first add.
  SQLiteVISAUsageStorage usage;
  std::printf("C: %d\n", usage.AddVISACUsageRecord("2024-05-01 09:30:00", "scope-panel.exe"));
  std::printf(".NET: %d\n", usage.AddVISANETUsageRecord("2024-05-01 09:31:00", "Bench's tool"));
  std::printf("remote sessions: %d\n",
              usage.AddSorrelSessionUsageRecord("vxi11", 3, "2024-05-01 10:00:00"));

  // Failures return false and are reported to the event log; the object
  // stays usable. A null time is refused.
  std::printf("null time: %d\n", usage.AddVISACOMUsageRecord(nullptr, "app.exe"));

  // The library never creates an analytics database: a missing file fails.
  SQLiteVISAUsageStorage elsewhere("/nonexistent/DataAnalytics.db");
  std::printf("missing database: %d\n",
              elsewhere.AddVISACUsageRecord("2024-05-01 09:30:00", "scope-panel.exe"));

  // The base class stores nothing.
  VISAUsageStorage none;
  std::printf("base class: %d\n", none.AddVISACUsageRecord());
  return 0;
}
