#pragma once

// The global settings as the KestInfo record exposes them: one entry per
// stored value name, with its kind, its getter and (when the record has one)
// its setter. The pda commands list, read and write settings through this
// table only, so what they show is what a program of the suite would read.

#include <functional>
#include <string>
#include <vector>

#include <PersistedDataAccess.h>

namespace pdatool {

enum class Kind { Int32, Dword, Bool, String };

struct SettingValue {
  Kind kind = Kind::Int32;
  long long number = 0;  // Int32, Dword, Bool (1 or 0)
  std::string text;      // String
};

struct Setting {
  const char* name;  // the stored value name, as the record spells it
  Kind kind;
  std::function<SettingValue(KestInfo&)> read;
  // Parses text for the kind (throwing UsageError when it does not fit) and
  // writes it; returns the record's status. Empty for read-only settings.
  std::function<int(KestInfo&, const std::string& text)> write;
};

// Every setting, in the record's order.
const std::vector<Setting>& allSettings();

// The setting of that name, ignoring letter case; null when there is none.
const Setting* findSetting(const std::string& name);

const char* kindName(Kind kind);

// The value as the tool prints it: numbers in decimal, booleans as
// "true"/"false", strings as they are.
std::string displayText(const SettingValue& value);

// Whether the record's store holds a value under name: the root node's value
// map after its lazy fill. Call it after reading the setting, because a read
// drops an empty stored value (which then counts as not stored).
bool isStored(KestInfo& record, const char* name);

}  // namespace pdatool
