#pragma once

// Helpers of the stress program: the short and long forms, child processes
// (this program started again in a child role) and their output, what the
// scenarios check in common, and the counts that every scenario reports.

#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "pda/KestInfo.h"

namespace stress {

// --long on the command line, or PDA_STRESS_LONG=1, asks for the long form.
bool longForm();
void setLongForm(bool value);

// shortValue in the short form, longValue in the long form. PDA_STRESS_SCALE
// (a positive integer) multiplies the long value, for runs longer still.
int scaled(int shortValue, int longValue);

// A child process: this program with "--child <role> <args...>".
struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of the child's standard output
};
Child spawn(const std::string& role, const std::vector<std::string>& args);

// Everything the child writes until it closes its output (or dies).
std::string readAll(int fd);
// What one read gives: waits until the child has written something.
std::string readSome(int fd);
// Ends a writer child with SIGKILL at a random moment: mostly while it is
// writing (after its first output, within maxMs), now and then while it is
// still starting. Returns all it wrote.
std::string killAtRandomMoment(Child& child, unsigned maxMs);
// Waits for the child; its exit code, or 128 + the signal that ended it.
int waitExit(pid_t pid);

std::vector<std::string> lines(const std::string& text);
std::vector<std::string> words(const std::string& line);

// Prints "[stress] <scenario> (short|long): a=1 b=2" and records the counts
// as test properties.
void report(const std::string& scenario,
            const std::vector<std::pair<std::string, long long>>& counts);

// Runs a child role (the program was started with --child).
int runChild(int argc, char** argv);

double nowMs();  // monotonic

// A random number in [0, bound) from a per-process generator seeded from the
// clock and the process id (PDA_STRESS_SEED fixes the seed of the parent).
unsigned randomBelow(unsigned bound);

// The values that one writer puts under one name: "p<writer>-<sequence>",
// some with a single quote and more text after it, so that quoting is
// exercised in every scenario. parseSequence gives the sequence back (-1 for
// a text of another form).
std::string valueOf(int writer, int sequence);
int parseSequence(const std::string& value);

// The names writer w writes: its own names and the one shared name.
std::string ownName(int writer, int index);
extern const char* const kSharedName;

// Watches what readers see: a value nobody wrote, or an own name of a writer
// going back to an older value (each writer writes its names in increasing
// sequence, so a committed state never shows an older one).
struct SequenceCheck {
  std::map<std::string, int> newest;
  long long values = 0, malformed = 0, regressions = 0;
  void look(const ::NameValueMap& map);
};

// name -> every value stored under it (one per row): the table as the sqlite3
// client sees it in row order, or the registry key's values file (failing the
// test when the file is not whole; a missing file is empty when mayBeMissing).
using Rows = std::map<std::string, std::vector<std::string>>;
Rows tableRows(const std::string& db, const std::string& table);
Rows keyValues(const std::string& file, bool mayBeMissing = false);

// What "PRAGMA integrity_check;" answers, without its line break.
std::string integrityCheck(const std::string& db);

// The events of the given type ("ERROR", "WARNING", ...) in the machine's
// event log, all of them or those whose message starts with one of prefixes;
// the first few messages go to detail.
int countEvents(const std::string& type, std::string* detail = nullptr,
                const std::vector<std::string>& prefixes = {});
// The prefixes of the reports of a write (a setter's, its delete's, its
// transaction statements' or its busy retries') and of a read.
extern const std::vector<std::string> kWriteReports, kReadReports;

// What writers said they did ("W <name> <value> <result>" lines): the last
// successful value of every own name and every value the shared name was
// given.
struct Expected {
  std::map<std::string, std::string> last;
  std::set<std::string> sharedValues;
  long long writes = 0, failures = 0;
  void add(const std::string& name, const std::string& value, int result);
  void addOutput(const std::string& output);
};
// Every own name holds its last value in exactly one row; the shared name has
// one row with one of the values given to it; nothing else is stored.
void checkFinal(const Rows& rows, const Expected& expected);

// The counts of a reader's "R a=1 b=2" line; empty when there is none.
std::map<std::string, long long> parseCounts(const std::string& output);
// The values of a probe's output ("V <name> <value>" lines).
std::map<std::string, std::string> parseProbe(const std::string& output);

// A killed writer's output ("B <name> <value>" before a write, "E <result>"
// after it): the confirmed writes go to confirmed; the write it died in, if
// any, to pendingName/pendingValue.
struct KillRound {
  std::string pendingName, pendingValue;
};
KillRound takeKilled(const std::string& output, int* sequence,
                     std::map<std::string, std::string>* confirmed, long long* writes,
                     long long* failures);
// After a kill: each confirmed name in exactly one row, holding its confirmed
// value or the pending one (which then counts as landed and confirmed).
void checkAfterKill(const Rows& rows, const KillRound& round,
                    std::map<std::string, std::string>* confirmed, long long* landed, int kill);

}  // namespace stress
