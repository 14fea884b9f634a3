#include "Records.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Command.h"

namespace pdatool {

namespace {

// Numbers from 0 to 2147483647 only: a stored negative number reads back as 0
// (the records read a minus sign as no digit), so the tool refuses it.
int parseInt32(const char* name, const std::string& text) {
  bool ok = !text.empty();
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) ok = false;
  errno = 0;
  const long long v = ok ? std::strtoll(text.c_str(), nullptr, 10) : 0;
  if (!ok || errno == ERANGE || v > INT_MAX)
    throw UsageError(std::string(name) + " takes a whole number from 0 to " +
                     std::to_string(INT_MAX) + ", not '" + text + "'");
  return static_cast<int>(v);
}

SettingValue number(long long v) {
  SettingValue out;
  out.kind = Kind::Int32;
  out.number = v;
  return out;
}

SettingValue text(void (VisaInfo::*get)(char*, unsigned int), VisaInfo& r) {
  std::vector<char> buffer(kTextBuffer, '\0');
  (r.*get)(buffer.data(), kTextBuffer);
  SettingValue out;
  out.kind = Kind::String;
  out.text = buffer.data();
  return out;
}

// The setters take a writable buffer; they get a copy of the text.
int writeText(int (VisaInfo::*set)(char*), VisaInfo& r, const std::string& value) {
  std::vector<char> copy(value.begin(), value.end());
  copy.push_back('\0');
  return (r.*set)(copy.data());
}

// The three numbers that the record reads through a buffer it leaves alone.
int bufferedInt(int (VisaInfo::*get)(char*, unsigned int), VisaInfo& r) {
  char unused[2] = {0, 0};
  return (r.*get)(unused, sizeof unused);
}

#define PDA_VISA_INT(stored, getter, setter)                                              \
  VisaSetting {                                                                           \
    stored, Kind::Int32, [](VisaInfo& r) { return number(r.getter()); },                  \
        [](VisaInfo& r, const std::string& t) { return r.setter(parseInt32(stored, t)); } \
  }
#define PDA_VISA_BUFFERED_INT(stored, getter, setter)                                           \
  VisaSetting {                                                                                 \
    stored, Kind::Int32, [](VisaInfo& r) { return number(bufferedInt(&VisaInfo::getter, r)); }, \
        [](VisaInfo& r, const std::string& t) { return r.setter(parseInt32(stored, t)); }       \
  }
#define PDA_VISA_TEXT(stored, getter, setter)                                                \
  VisaSetting {                                                                              \
    stored, Kind::String, [](VisaInfo& r) { return text(&VisaInfo::getter, r); },            \
        [](VisaInfo& r, const std::string& t) { return writeText(&VisaInfo::setter, r, t); } \
  }

std::vector<VisaSetting> buildVisaTable() {
  return {
      PDA_VISA_INT("MaxSessNbr", getConfigMaxNbrOfSess, setConfigMaxNbrOfSess),
      PDA_VISA_INT("MaxNbrOfProcs", getConfigMaxNbrOfProcs, setConfigMaxNbrOfProcs),
      PDA_VISA_INT("DefaultQSize", getDefaultQSize, setDefaultQSize),
      PDA_VISA_INT("CreateOnOpen", getCreateOnOpenMode, setCreateOnOpenMode),
      PDA_VISA_INT("LoggingVerboseLevel", getLoggingVerboseLevel, setLoggingVerboseLevel),
      PDA_VISA_INT("YieldMode", getYieldMode, setYieldMode),
      PDA_VISA_INT("SleepMs", getSleepMs, setSleepMs),
      PDA_VISA_INT("DefaultLockWait", getDefaultLockWait, setDefaultLockWait),
      PDA_VISA_INT("DefaultAllowLocalSpaceFifo", getDefaultAllowLocalSpaceFifo,
                   setDefaultAllowLocalSpaceFifo),
      PDA_VISA_INT("AutoConfigAsrlInstr", getAutoConfigAsrlInstr, setAutoConfigAsrlInstr),
      PDA_VISA_BUFFERED_INT("Spec Version", getSpecVersion, setSpecVersion),
      PDA_VISA_BUFFERED_INT("ManfVersionNbr", getManfVersionNbr, setManfVersionNbr),
      PDA_VISA_BUFFERED_INT("ManfID", getManfID, setManfID),
      PDA_VISA_TEXT("Manufacturer", getManufacturer, setManufacturer),
      PDA_VISA_TEXT("Copyright", getCopyright, setCopyright),
      PDA_VISA_TEXT("ManfVersion", getManfVersion, setManfVersion),
      PDA_VISA_TEXT("LastMod", getLastMod, setLastMod),
      PDA_VISA_TEXT("ModTool", getModTool, setModTool),
  };
}

}  // namespace

const std::vector<VisaSetting>& allVisaSettings() {
  static const std::vector<VisaSetting> table = buildVisaTable();
  return table;
}

const VisaSetting* findVisaSetting(const std::string& name) {
  const std::string wanted = lowerCase(name);
  for (const VisaSetting& s : allVisaSettings())
    if (lowerCase(s.name) == wanted) return &s;
  return nullptr;
}

bool isStoredIn(const KestRecord& record, const char* name) {
  IKestBase* root = record.getIKestBase();
  if (!root) return false;
  const ::NameValueMap* values = root->NameValueMap();
  return values->find(name) != values->end();
}

const char* logModeName(visaLoggingMode mode) {
  switch (mode) {
    case LogModeOff:
      return "off";
    case LogModeEventViewer:
      return "eventviewer";
    case LogModeDebugger:
      return "debugger";
    default:
      return "unknown";
  }
}

std::vector<AliasEntry> listAliases(KestAliases& record, bool visa, bool brix) {
  std::vector<AliasEntry> out;
  std::vector<char> alias(kTextBuffer), address(kTextBuffer);
  for (int pass = 0; pass < 2; ++pass) {
    const bool isVisa = pass == 0;
    if (isVisa ? !visa : !brix) continue;
    for (int index = 0; index < INT_MAX; ++index) {
      const int found = isVisa ? record.getVisaAliasByIndex(index, alias.data(), kTextBuffer,
                                                            address.data(), kTextBuffer)
                               : record.getBrixAliasByIndex(index, alias.data(), kTextBuffer,
                                                            address.data(), kTextBuffer);
      if (!found) break;
      out.push_back(AliasEntry{isVisa ? "visa" : "brix", alias.data(), address.data()});
    }
  }
  return out;
}

const char* favoriteName(InstrumentFavoriteEnum value) {
  switch (value) {
    case InstrumentFavoriteOn:
      return "on";
    case InstrumentFavoriteOff:
      return "off";
    default:
      return "not set";
  }
}

std::vector<std::pair<std::string, std::string>> nodeValues(IKestBase* node) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!node) return out;
  for (const auto& pair : *node->NameValueMap()) out.emplace_back(pair.first, pair.second);
  return out;
}

}  // namespace pdatool
