#pragma once

// Views of the records other than the global settings, shared by their own
// commands and by `pda show`: the VISA settings table, the alias tables, the
// logging mode names, favourites.

#include <string>
#include <vector>

#include <PersistedDataAccess.h>

#include "Settings.h"

namespace pdatool {

// Larger than any text a person stores; a longer one reads as empty through
// the records (they never cut a text), and so in the tool too.
const unsigned int kTextBuffer = 64 * 1024;

// One VISA setting of the VisaInfo record, read and written through it.
struct VisaSetting {
  const char* name;  // the stored value name, as the record spells it
  Kind kind;         // Int32 or String
  SettingValue (*read)(VisaInfo&);
  int (*write)(VisaInfo&, const std::string& text);  // throws UsageError on bad text
};

const std::vector<VisaSetting>& allVisaSettings();
const VisaSetting* findVisaSetting(const std::string& name);

// Whether the record's root node holds a value under name (after a read).
bool isStoredIn(const KestRecord& record, const char* name);

// "off", "eventviewer", "debugger" or "unknown".
const char* logModeName(visaLoggingMode mode);

struct AliasEntry {
  std::string kind;  // "visa" or "brix"
  std::string alias;
  std::string address;
};

// Every alias of the chosen tables, in the record's order.
std::vector<AliasEntry> listAliases(KestAliases& record, bool visa, bool brix);

// "on", "off" or "not set".
const char* favoriteName(InstrumentFavoriteEnum value);

// The pairs of a node's value map, in its order.
std::vector<std::pair<std::string, std::string>> nodeValues(IKestBase* node);

}  // namespace pdatool
