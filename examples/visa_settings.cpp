// VISA's settings and where VISA sends its log.
#include <PersistedDataAccess.h>

#include <cstdio>

namespace {
const char* modeName(visaLoggingMode mode) {
  switch (mode) {
    case LogModeEventViewer:
      return "event log";
    case LogModeDebugger:
      return "debugger";
    case LogModeOff:
      return "off";
    default:
      return "unknown";
  }
}
}  // namespace

int main() {
  VisaInfo visa(RegistryDataSource);
  std::printf("MaxSessNbr: %d\n", visa.getConfigMaxNbrOfSess());  // 256 until stored
  visa.setConfigMaxNbrOfSess(512);
  visa.setDefaultQSize(100);

  char manufacturer[64];
  visa.getManufacturer(manufacturer, sizeof manufacturer);
  std::printf("Manufacturer: %s\n", manufacturer);

  // The version of the standard VISA follows is a number; the buffer is there for the
  // callers' signature only and is left untouched.
  visa.setSpecVersion(0x00700100);
  char unused[8] = "";
  std::printf("Spec Version: 0x%08X\n", static_cast<unsigned>(visa.getSpecVersion(unused, 8)));

  // The logging mode is stored as a keyword: "EVENTVIEWER", "DEBUGGER" or "OFF".
  std::printf("log mode before: %s\n", modeName(visa.getLogMode()));
  visa.setLogMode(LogModeDebugger);
  std::printf("log mode after: %s\n", modeName(visa.getLogMode()));

  VisaInfo reread(RegistryDataSource);
  std::printf("MaxSessNbr: %d, DefaultQSize: %d\n", reread.getConfigMaxNbrOfSess(),
              reread.getDefaultQSize());

  // The process-wide answer comes from the default store (here the built-in
  // defaults, which log nowhere), is read once and then kept.
  std::printf("VISA logs to: %s\n", modeName(VisaInfo::getVisaLoggingMode()));
  return 0;
}
