#include "pda/VisaInfo.h"

#include "base/Text.h"

std::atomic<int> VisaInfo::_logModeCache{LogModeUnknown};

namespace {

// The stored value names; shared with VISA and the suite's other programs.
const char kMaxSessNbr[] = "MaxSessNbr";
const char kMaxNbrOfProcs[] = "MaxNbrOfProcs";
const char kDefaultQSize[] = "DefaultQSize";
const char kCreateOnOpen[] = "CreateOnOpen";
const char kLoggingVerboseLevel[] = "LoggingVerboseLevel";
const char kYieldMode[] = "YieldMode";
const char kSleepMs[] = "SleepMs";
const char kDefaultLockWait[] = "DefaultLockWait";
const char kDefaultAllowLocalSpaceFifo[] = "DefaultAllowLocalSpaceFifo";
const char kAutoConfigAsrlInstr[] = "AutoConfigAsrlInstr";
const char kSpecVersion[] = "Spec Version";  // with the blank
const char kManfVersionNbr[] = "ManfVersionNbr";
const char kManfID[] = "ManfID";
const char kManufacturer[] = "Manufacturer";
const char kCopyright[] = "Copyright";
const char kManfVersion[] = "ManfVersion";
const char kLastMod[] = "LastMod";
const char kModTool[] = "ModTool";
const char kLogging[] = "Logging";

// Keywords recognised in "Logging", first match wins. Only "EVENTVIEWER",
// "DEBUGGER" and "OFF" are ever written; the rest come from older tools.
struct LogKeyword {
  const char* text;
  visaLoggingMode mode;
};
const LogKeyword kLogKeywords[] = {
    {"EVENTVIEWER", LogModeEventViewer},    {"BRIX", LogModeEventViewer},
    {"standard", LogModeEventViewer},       {"default", LogModeEventViewer},
    {"DEBUGGER", LogModeDebugger},          {"ODS", LogModeDebugger},
    {"OUTPUTDEBUGSTRING", LogModeDebugger},
};

// The size of the buffer "Logging" is read into; a longer text reads as "".
const unsigned int kLogTextSize = 1024;

}  // namespace

VisaInfo::VisaInfo(DataSource dataSource) : KestRecord() {
  initializeDataSource(dataSource);
}

void VisaInfo::initializeDataSource(DataSource dataSource) {
  // Drops the old tree and resolves UnknownDataSource to the default.
  KestRecord::initializeDataSource(dataSource);
  // WrenDataSource: no VISA settings store, so no root node.
  setRoot(createStore(_dataSource, VisaInfoBaseType));
}

int VisaInfo::getConfigMaxNbrOfSess() {
  return getValueInt32(kMaxSessNbr, 256);
}
int VisaInfo::setConfigMaxNbrOfSess(int value) {
  return setValueInt32(kMaxSessNbr, value);
}
int VisaInfo::getConfigMaxNbrOfProcs() {
  return getValueInt32(kMaxNbrOfProcs, 64);
}
int VisaInfo::setConfigMaxNbrOfProcs(int value) {
  return setValueInt32(kMaxNbrOfProcs, value);
}
int VisaInfo::getDefaultQSize() {
  return getValueInt32(kDefaultQSize, 50);
}
int VisaInfo::setDefaultQSize(int value) {
  return setValueInt32(kDefaultQSize, value);
}
int VisaInfo::getCreateOnOpenMode() {
  return getValueInt32(kCreateOnOpen, 1);
}
int VisaInfo::setCreateOnOpenMode(int value) {
  return setValueInt32(kCreateOnOpen, value);
}
int VisaInfo::getLoggingVerboseLevel() {
  return getValueInt32(kLoggingVerboseLevel, 0);
}
int VisaInfo::setLoggingVerboseLevel(int value) {
  return setValueInt32(kLoggingVerboseLevel, value);
}
int VisaInfo::getYieldMode() {
  return getValueInt32(kYieldMode, 0);
}
int VisaInfo::setYieldMode(int value) {
  return setValueInt32(kYieldMode, value);
}
int VisaInfo::getSleepMs() {
  return getValueInt32(kSleepMs, 0);
}
int VisaInfo::setSleepMs(int value) {
  return setValueInt32(kSleepMs, value);
}
int VisaInfo::getDefaultLockWait() {
  return getValueInt32(kDefaultLockWait, 0);
}
int VisaInfo::setDefaultLockWait(int value) {
  return setValueInt32(kDefaultLockWait, value);
}
int VisaInfo::getDefaultAllowLocalSpaceFifo() {
  return getValueInt32(kDefaultAllowLocalSpaceFifo, 0);
}
int VisaInfo::setDefaultAllowLocalSpaceFifo(int value) {
  return setValueInt32(kDefaultAllowLocalSpaceFifo, value);
}
int VisaInfo::getAutoConfigAsrlInstr() {
  return getValueInt32(kAutoConfigAsrlInstr, 0);
}
int VisaInfo::setAutoConfigAsrlInstr(int value) {
  return setValueInt32(kAutoConfigAsrlInstr, value);
}

// The buffer is part of the callers' signature only; the number is returned.
int VisaInfo::getSpecVersion(char*, unsigned int) {
  return getValueInt32(kSpecVersion, 0);
}
int VisaInfo::setSpecVersion(int value) {
  return setValueInt32(kSpecVersion, value);
}
int VisaInfo::getManfVersionNbr(char*, unsigned int) {
  return getValueInt32(kManfVersionNbr, 0);
}
int VisaInfo::setManfVersionNbr(int value) {
  return setValueInt32(kManfVersionNbr, value);
}
int VisaInfo::getManfID(char*, unsigned int) {
  return getValueInt32(kManfID, 0);
}
int VisaInfo::setManfID(int value) {
  return setValueInt32(kManfID, value);
}

void VisaInfo::getManufacturer(char* buffer, unsigned int size) {
  getValueString(kManufacturer, buffer, size, "not specified");
}
int VisaInfo::setManufacturer(char* value) {
  return setValueString(kManufacturer, value);
}
void VisaInfo::getCopyright(char* buffer, unsigned int size) {
  getValueString(kCopyright, buffer, size, "");
}
int VisaInfo::setCopyright(char* value) {
  return setValueString(kCopyright, value);
}
void VisaInfo::getManfVersion(char* buffer, unsigned int size) {
  getValueString(kManfVersion, buffer, size, "");
}
int VisaInfo::setManfVersion(char* value) {
  return setValueString(kManfVersion, value);
}
void VisaInfo::getLastMod(char* buffer, unsigned int size) {
  getValueString(kLastMod, buffer, size, "");
}
int VisaInfo::setLastMod(char* value) {
  return setValueString(kLastMod, value);
}
void VisaInfo::getModTool(char* buffer, unsigned int size) {
  getValueString(kModTool, buffer, size, "");
}
int VisaInfo::setModTool(char* value) {
  return setValueString(kModTool, value);
}

visaLoggingMode VisaInfo::getLogMode() {
  char text[kLogTextSize];
  text[0] = '\0';
  getValueString(kLogging, text, sizeof text, "OFF");
  // Compared whole, without trimming: "EVENTVIEWER " is no keyword.
  for (const LogKeyword& keyword : kLogKeywords) {
    if (pda::ciEquals(text, keyword.text)) return keyword.mode;
  }
  return LogModeOff;
}

int VisaInfo::setLogMode(visaLoggingMode mode) {
  const char* text = "OFF";
  if (mode == LogModeEventViewer) text = "EVENTVIEWER";
  if (mode == LogModeDebugger) text = "DEBUGGER";
  return setValueString(kLogging, text);
}

visaLoggingMode VisaInfo::getVisaLoggingMode() {
  const int cached = _logModeCache.load(std::memory_order_acquire);
  if (cached != LogModeUnknown) return static_cast<visaLoggingMode>(cached);
  // Threads that find the cache empty at once each read the same store and
  // publish the same whole value. An exception leaves the cache empty.
  visaLoggingMode mode;
  {
    VisaInfo record(UnknownDataSource);
    mode = record.getLogMode();
  }
  _logModeCache.store(mode, std::memory_order_release);
  return mode;
}

// Defined here rather than in the header, so that the library exports them
// and every program uses the library's own copies.
VisaInfo::VisaInfo(const VisaInfo& other) = default;
VisaInfo& VisaInfo::operator=(const VisaInfo& other) = default;
VisaInfo::~VisaInfo() = default;
