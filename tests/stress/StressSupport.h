#pragma once

// Helpers of the stress program: the short and long forms, child processes
// (this program started again in a child role), their output, and the counts
// that every scenario reports.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace stress {

// Whether the long form was asked for (--long on the command line, or
// PDA_STRESS_LONG=1); the short form is what the test command runs.
bool longForm();
void setLongForm(bool value);

// shortValue in the short form, longValue in the long form. PDA_STRESS_SCALE
// (a positive integer) multiplies the long value, for runs longer still.
int scaled(int shortValue, int longValue);

// A child process: this program with "--child <role> <args...>", its standard
// output on a pipe that the parent reads.
struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of the child's standard output
};

Child spawn(const std::string& role, const std::vector<std::string>& args);

// Everything the child writes until it closes its output (or dies).
std::string readAll(int fd);
// What one read gives: waits until the child has written something (or
// closed its output).
std::string readSome(int fd);

// Ends a writer child with SIGKILL at a random moment: mostly while it is
// writing (after its first output, within maxMs), now and then while it is
// still starting. Returns all it wrote.
std::string killAtRandomMoment(Child& child, unsigned maxMs);

// Waits for the child; its exit code, or 128 + the signal that ended it.
int waitExit(pid_t pid);

// Splits text into lines (without their line breaks).
std::vector<std::string> lines(const std::string& text);
// Splits a line on blanks.
std::vector<std::string> words(const std::string& line);

// Prints one line of counts, "[stress] <scenario>: a=1 b=2", so that the log
// of a run gives every scenario's numbers, and records them as test
// properties.
void report(const std::string& scenario,
            const std::vector<std::pair<std::string, long long>>& counts);

// Runs a child role (the program was started with --child); returns the exit
// code. Defined beside the roles.
int runChild(int argc, char** argv);

// Monotonic milliseconds.
double nowMs();

// A random number in [0, bound) from a per-process generator seeded from the
// clock and the process id (PDA_STRESS_SEED fixes the seed of the parent).
unsigned randomBelow(unsigned bound);

// The values that one writer puts under one name: "p<writer>-<sequence>",
// some with a single quote and more text after it, so that quoting is
// exercised in every scenario. parseSequence gives the sequence back (-1 for
// a text of another form); parseWriter the writer.
std::string valueOf(int writer, int sequence);
int parseSequence(const std::string& value);
int parseWriter(const std::string& value);

// The names writer w writes: its own names and the one shared name.
std::string ownName(int writer, int index);
extern const char* const kSharedName;

}  // namespace stress
