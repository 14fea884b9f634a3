#pragma once

#include <atomic>

#include "pda/Export.h"
#include "pda/KestRecord.h"
#include "pda/KestTypes.h"

// Where VISA sends its log. Only keywords are stored, never these numbers.
// A fixed underlying type, so that any int a caller passes to setLogMode is a
// valid value of the type (and stored as "OFF").
enum visaLoggingMode : int {
  LogModeUnknown = 0,      // not determined yet; only the process-wide cache holds it
  LogModeOff = 1,          // "OFF", and every keyword that is not recognised
  LogModeEventViewer = 2,  // the event log
  LogModeDebugger = 3      // the debugger output
};

// The settings of VISA: limits, queue size, open and lock behaviour, logging,
// and the identification texts VISA reports. Each accessor maps to one stored
// value; a value that is not stored reads as the accessor's default.
//
// The record stores and returns these values only; what VISA makes of each
// (what a "YieldMode" or "CreateOnOpen" selects) is VISA's business. Copies
// share the tree, which goes with the last record that refers to it (see
// KestRecord).
//
// Setters return non-zero on success and 0 on failure (always 0 without a
// store). String getters never truncate: a text that does not fit leaves the
// buffer "".
//
// Thread safety: a record is used by one thread at a time;
// getVisaLoggingMode may be called from any thread.
class PDA_API VisaInfo : public KestRecord {
 public:
  explicit VisaInfo(DataSource dataSource = UnknownDataSource);
  VisaInfo(const VisaInfo& other);
  VisaInfo& operator=(const VisaInfo& other);
  ~VisaInfo() override;

  int getConfigMaxNbrOfSess();
  int setConfigMaxNbrOfSess(int value);
  int getConfigMaxNbrOfProcs();
  int setConfigMaxNbrOfProcs(int value);
  int getDefaultQSize();
  int setDefaultQSize(int value);
  int getCreateOnOpenMode();
  int setCreateOnOpenMode(int value);
  int getLoggingVerboseLevel();
  int setLoggingVerboseLevel(int value);
  int getYieldMode();
  int setYieldMode(int value);
  int getSleepMs();
  int setSleepMs(int value);
  int getDefaultLockWait();
  int setDefaultLockWait(int value);
  int getDefaultAllowLocalSpaceFifo();
  int setDefaultAllowLocalSpaceFifo(int value);
  int getAutoConfigAsrlInstr();
  int setAutoConfigAsrlInstr(int value);

  // These three take a buffer for the sake of their callers' signature but
  // return the number and never touch the buffer.
  int getSpecVersion(char* buffer, unsigned int size);
  int setSpecVersion(int value);
  int getManfVersionNbr(char* buffer, unsigned int size);
  int setManfVersionNbr(int value);
  int getManfID(char* buffer, unsigned int size);
  int setManfID(int value);

  void getManufacturer(char* buffer, unsigned int size);
  int setManufacturer(char* value);
  void getCopyright(char* buffer, unsigned int size);
  int setCopyright(char* value);
  void getManfVersion(char* buffer, unsigned int size);
  int setManfVersion(char* value);
  void getLastMod(char* buffer, unsigned int size);
  int setLastMod(char* value);
  void getModTool(char* buffer, unsigned int size);
  int setModTool(char* value);

  // The mode that this record's store holds now.
  visaLoggingMode getLogMode();
  // Stores "EVENTVIEWER" for 2, "DEBUGGER" for 3 and "OFF" for anything
  // else. Does not change what getVisaLoggingMode answers.
  int setLogMode(visaLoggingMode mode);

  // The mode of the process-wide default store, read at the first call and
  // kept for the life of the process.
  static visaLoggingMode getVisaLoggingMode();

 private:
  virtual void initializeDataSource(DataSource dataSource);

  // 0 until the first getVisaLoggingMode has read the mode. Atomic so that
  // threads racing on the first call each publish a whole value.
  static std::atomic<int> _logModeCache;
};
