#include "SettingsDocument.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <system_error>

#include <PersistedDataAccess.h>
#include <pda/Win32.h>

#include "Command.h"
#include "Database.h"
#include "RegistryAccess.h"
#include "StoreInfo.h"

namespace pdatool {

namespace {

const char* const kFormat = "pda-settings";
const int kVersion = 1;
const char* const kRegistryBase = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";
// SQLITE_OPEN_READWRITE: an import never creates the configuration database.
const int kOpenReadWrite = 2;
// The registry store reads value names and data through buffers of this many
// bytes, terminator included: a longer text would not read back.
const std::size_t kRegistryTextLimit = 1024;
const std::size_t kRegistryKeyLimit = 255;

// The name/value sections: where each lives in either store, and which
// built-in defaults give it.
struct ValueSection {
  const char* name;
  const char* table;        // in "Quillon.db"
  const char* registryKey;  // below the base key; "" is the base key itself
  KestBaseType type;
};
const ValueSection kValueSections[] = {
    {"globalSettings", "KestInfo", "", KestInfoBaseType},
    {"visaSettings", "VisaInfo", "VISAInfo", VisaInfoBaseType},
    {"remoteSessionParameters", "SorrelParamInfo", "Params", SorrelParamsBaseType},
    {"favorites", "InstrumentFavorites", "InstrumentFavorites", InstrumentFavoritesBaseType},
};

struct AliasKind {
  const char* name;         // in the document
  const char* rowName;      // NAME of its rows in "InstrAliasInfo"
  const char* registryKey;  // below the base key
  const char* defaultsChild;
};
const AliasKind kAliasKinds[] = {
    {"visa", "AliasVisaId", "VisaDevices", "VisaAlias"},
    {"brix", "AliasBrixId", "Devices", "BrixAlias"},
};

const char* const kPxiKeyedTables[] = {"Chassis", "PModules", "SModules"};
const char* const kPxiBuses = "PciBuses";

const char* const kHeader[] = {"format", "version", "store"};
const char* const kTopLevel[] = {"format",        "version",
                                 "store",         "globalSettings",
                                 "visaSettings",  "remoteSessionParameters",
                                 "favorites",     "aliases",
                                 "configuration", "pxi"};

std::string lower(const std::string& text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ciEqual(const std::string& a, const std::string& b) {
  return lower(a) == lower(b);
}

bool startsWithIntf(const std::string& key) {
  return key.size() >= 4 && ciEqual(key.substr(0, 4), "INTF");
}

// One step of a JSON Pointer: "~" and "/" escaped.
std::string step(const std::string& name) {
  std::string out = "/";
  for (char c : name) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return out;
}

// A map sorted as the stores sort names, turned into a JSON object.
typedef std::map<std::string, Json, ci_less> SortedMap;
Json toObject(const SortedMap& map) {
  Json out = Json::object();
  for (const auto& entry : map) out[entry.first] = entry.second;
  return out;
}

std::string valueText(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// --- Parsing and the document's shape ------------------------------------

struct Shape {
  // The first fault found so far (the first one wins).
  std::string where;
  std::string why;
  bool failed() const { return !why.empty(); }
  void fail(const std::string& at, const std::string& what) {
    if (failed()) return;
    where = at;
    why = what;
  }
};

void checkText(Shape& shape, const std::string& at, const std::string& text, const char* what) {
  if (text.find('\0') != std::string::npos)
    shape.fail(at, std::string(what) + " holds a NUL character, which no store keeps");
}

// {NAME: text or whole number}
void checkValueMap(Shape& shape, const std::string& at, const Json& map) {
  if (!map.is_object()) return shape.fail(at, "must be an object of names and values");
  for (auto it = map.begin(); it != map.end(); ++it) {
    const std::string here = at + step(it.key());
    checkText(shape, here, it.key(), "the name");
    const Json& v = it.value();
    if (v.is_string())
      checkText(shape, here, v.get<std::string>(), "the value");
    else if (!v.is_number_integer())
      shape.fail(here, "must be text or a whole number, not " + v.dump());
  }
}

// {KEY: {NAME: VALUE}}
void checkRecordMap(Shape& shape, const std::string& at, const Json& map) {
  if (!map.is_object()) return shape.fail(at, "must be an object of records");
  for (auto it = map.begin(); it != map.end(); ++it) {
    const std::string here = at + step(it.key());
    if (it.key().empty()) shape.fail(here, "a record needs a non-empty key");
    checkText(shape, here, it.key(), "the key");
    checkValueMap(shape, here, it.value());
  }
}

// An object that must have exactly the given members.
bool checkMembers(Shape& shape, const std::string& at, const Json& object,
                  std::initializer_list<const char*> names) {
  if (!object.is_object()) {
    shape.fail(at, "must be an object");
    return false;
  }
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = false;
    for (const char* n : names) known = known || it.key() == n;
    if (!known) shape.fail(at + step(it.key()), "unknown member");
  }
  for (const char* n : names)
    if (!object.contains(n)) shape.fail(at + step(n), "missing");
  return !shape.failed();
}

void checkShape(Shape& shape, const Json& doc) {
  if (!doc.is_object()) return shape.fail("", "must be a JSON object");
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    bool known = false;
    for (const char* n : kTopLevel) known = known || it.key() == n;
    if (!known) shape.fail(step(it.key()), "unknown member");
  }
  if (!doc.contains("format") || doc["format"] != kFormat)
    return shape.fail("/format", std::string("must be \"") + kFormat + "\"");
  if (!doc.contains("version") || !doc["version"].is_number_integer())
    return shape.fail("/version", "must be a whole number");
  if (doc["version"] != kVersion)
    return shape.fail("/version", "unknown format version " + doc["version"].dump() +
                                      " (this pda reads version " + std::to_string(kVersion) + ")");
  if (doc.contains("store") && !doc["store"].is_string()) shape.fail("/store", "must be text");
  for (const ValueSection& s : kValueSections)
    if (doc.contains(s.name)) checkValueMap(shape, step(s.name), doc[s.name]);
  if (doc.contains("aliases") && checkMembers(shape, "/aliases", doc["aliases"], {"visa", "brix"}))
    for (const AliasKind& k : kAliasKinds)
      checkValueMap(shape, std::string("/aliases") + step(k.name), doc["aliases"][k.name]);
  if (doc.contains("configuration") &&
      checkMembers(shape, "/configuration", doc["configuration"], {"interfaces", "otherRecords"})) {
    const Json& interfaces = doc["configuration"]["interfaces"];
    if (!interfaces.is_object())
      shape.fail("/configuration/interfaces", "must be an object of interfaces");
    else
      for (auto it = interfaces.begin(); it != interfaces.end(); ++it) {
        const std::string here = "/configuration/interfaces" + step(it.key());
        if (it.key().empty()) shape.fail(here, "an interface needs a non-empty key");
        checkText(shape, here, it.key(), "the key");
        if (checkMembers(shape, here, it.value(), {"values", "instruments"})) {
          checkValueMap(shape, here + "/values", it.value()["values"]);
          checkRecordMap(shape, here + "/instruments", it.value()["instruments"]);
        }
      }
    checkRecordMap(shape, "/configuration/otherRecords", doc["configuration"]["otherRecords"]);
  }
  if (doc.contains("pxi") &&
      checkMembers(shape, "/pxi", doc["pxi"], {"Chassis", "PModules", "SModules", "PciBuses"})) {
    for (const char* t : kPxiKeyedTables)
      checkRecordMap(shape, std::string("/pxi/") + t, doc["pxi"][t]);
    checkValueMap(shape, "/pxi/PciBuses", doc["pxi"][kPxiBuses]);
  }
}

// Names that differ only in letter case are one name in every store: the
// parser would keep only one of two equal names, so they are caught while
// parsing, with the place where the second one stands.
struct DuplicateFinder {
  struct Frame {
    std::set<std::string, ci_less> names;
    std::string key;  // the member being read
  };
  std::vector<Frame> frames;
  Shape* shape;

  std::string here() const {
    std::string at;
    for (std::size_t i = 0; i < frames.size(); ++i) at += step(frames[i].key);
    return at;
  }
  bool operator()(int, nlohmann::detail::parse_event_t event, Json& parsed) {
    using Event = nlohmann::detail::parse_event_t;
    switch (event) {
      case Event::object_start:
      case Event::array_start:
        frames.emplace_back();
        break;
      case Event::object_end:
      case Event::array_end:
        if (!frames.empty()) frames.pop_back();
        break;
      case Event::key:
        if (!frames.empty() && parsed.is_string()) {
          frames.back().key = parsed.get<std::string>();
          if (!frames.back().names.insert(frames.back().key).second)
            shape->fail(here(), "appears twice (names do not depend on letter case)");
        }
        break;
      default:
        break;
    }
    return true;
  }
};

// --- Reading the stores ---------------------------------------------------

std::string quillonPath() {
  return std::string(DirUtilities::getSharedDataDir()) + "Quillon.db";
}

std::string remotePxiPath() {
  return std::string(DirUtilities::getPxiDataDir()) + "RemotePXI.db";
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

Json header(Store store) {
  Json doc = Json::object();
  doc["format"] = kFormat;
  doc["version"] = kVersion;
  doc["store"] = storeName(store);
  return doc;
}

// Rows of (NAME, VALUE) or (IDKEY, NAME, VALUE), in the order they were
// written; a later row of one name replaces an earlier one, as in the
// records' maps, and the first spelling of a name stays.
SortedMap nameValues(Database& db, const std::string& sql) {
  SortedMap out;
  for (const Row& row : db.query(sql)) {
    auto it = out.find(row[0]);
    if (it == out.end())
      out.emplace(row[0], Json(row[1]));
    else
      it->second = row[1];
  }
  return out;
}

std::map<std::string, SortedMap, ci_less> keyedRecords(Database& db, const std::string& sql) {
  std::map<std::string, SortedMap, ci_less> out;
  for (const Row& row : db.query(sql)) {
    SortedMap& record = out[row[0]];
    auto it = record.find(row[1]);
    if (it == record.end())
      record.emplace(row[1], Json(row[2]));
    else
      it->second = row[2];
  }
  return out;
}

// The configuration tree out of "ConfigData": records typed exactly
// "Interface" are interfaces; records typed exactly "Device" whose
// "ParentHashKey" names exactly one interface's "PersistentId" are its
// instruments; every other record stays as it is, outside the tree.
Json configurationFromRows(const std::map<std::string, SortedMap, ci_less>& records) {
  std::map<std::string, std::vector<std::string>> interfacesById;
  for (const auto& r : records) {
    auto type = r.second.find("RecordType");
    auto id = r.second.find("PersistentId");
    if (type != r.second.end() && type->second == "Interface" && id != r.second.end() &&
        !id->second.get<std::string>().empty())
      interfacesById[id->second.get<std::string>()].push_back(r.first);
  }
  SortedMap interfaces, others;
  std::map<std::string, SortedMap, ci_less> instruments;
  for (const auto& r : records) {
    SortedMap values = r.second;
    auto type = values.find("RecordType");
    const std::string typeText = type == values.end() ? "" : type->second.get<std::string>();
    if (typeText == "Device") {
      auto parent = values.find("ParentHashKey");
      auto owner = parent == values.end() ? interfacesById.end()
                                          : interfacesById.find(parent->second.get<std::string>());
      if (owner != interfacesById.end() && owner->second.size() == 1) {
        values.erase("RecordType");
        values.erase("ParentHashKey");
        instruments[owner->second.front()][r.first] = toObject(values);
        continue;
      }
    }
    if (typeText == "Interface") {
      values.erase("RecordType");
      auto id = values.find("PersistentId");
      if (id != values.end() && id->second == r.first) values.erase(id);
      Json entry = Json::object();
      entry["values"] = toObject(values);
      interfaces[r.first] = entry;
      continue;
    }
    others[r.first] = toObject(values);
  }
  for (auto& i : interfaces) {
    auto found = instruments.find(i.first);
    SortedMap empty;
    i.second["instruments"] = toObject(found == instruments.end() ? empty : found->second);
  }
  Json config = Json::object();
  config["interfaces"] = toObject(interfaces);
  config["otherRecords"] = toObject(others);
  return config;
}

// The configuration database's sections, read through db (which may hold an
// open transaction); pxiSchema names the attached PXI database ("" for none).
Json readSQLiteSections(Database& db, const std::string& pxiSchema, Store store) {
  Json doc = header(store);
  for (const ValueSection& s : kValueSections)
    doc[s.name] = toObject(nameValues(db, std::string("SELECT NAME, VALUE FROM ") + s.table +
                                              " WHERE NAME IS NOT NULL ORDER BY rowid"));
  Json aliases = Json::object();
  for (const AliasKind& k : kAliasKinds)
    aliases[k.name] = toObject(nameValues(
        db, std::string("SELECT IDKEY, VALUE FROM InstrAliasInfo WHERE IDKEY IS NOT NULL AND "
                        "NAME = '") +
                k.rowName + "' COLLATE NOCASE ORDER BY rowid"));
  doc["aliases"] = aliases;
  doc["configuration"] = configurationFromRows(
      keyedRecords(db,
                   "SELECT IDKEY, NAME, VALUE FROM ConfigData WHERE IDKEY IS NOT NULL AND "
                   "NAME IS NOT NULL ORDER BY rowid"));
  Json pxi = Json::object();
  for (const char* t : kPxiKeyedTables) {
    Json table = Json::object();
    if (!pxiSchema.empty())
      for (const auto& r : keyedRecords(
               db, "SELECT IDKEY, NAME, VALUE FROM " + pxiSchema + "." + t + " ORDER BY rowid"))
        table[r.first] = toObject(r.second);
    pxi[t] = table;
  }
  pxi[kPxiBuses] = pxiSchema.empty()
                       ? Json::object()
                       : toObject(nameValues(db, "SELECT NAME, VALUE FROM " + pxiSchema + "." +
                                                     kPxiBuses + " ORDER BY rowid"));
  doc["pxi"] = pxi;
  return doc;
}

void attachPxi(Database& db) {
  db.execute("ATTACH DATABASE " + sqlText(remotePxiPath()) + " AS pxi");
}

Json readSQLite() {
  const std::string path = quillonPath();
  if (!fileExists(path))
    throw WriteError("the SQLite store cannot be read: '" + path +
                     "' does not exist (is the suite installed? pda init lays one out)");
  Database db(suiteSqliteLibrary(), path, kOpenReadOnly);
  db.query("PRAGMA busy_timeout=5000");
  const bool pxi = fileExists(remotePxiPath());
  if (pxi) attachPxi(db);
  // One read transaction: the sections are one snapshot.
  DatabaseTransaction snapshot(db, DatabaseTransaction::kRead);
  Json doc = readSQLiteSections(db, pxi ? "pxi" : "", Store::SQLite);
  snapshot.commit();
  return doc;
}

std::string registryPath(const char* sub) {
  return *sub ? std::string(kRegistryBase) + "\\" + sub : std::string(kRegistryBase);
}

// Values the document does not model (binary, multi-string, ...) are left
// out, and left alone by an import.
bool modelled(const registry::Value& v) {
  return v.type == registry::kString || v.type == registry::kExpandString ||
         v.type == registry::kDword;
}

Json registryValues(const std::string& key) {
  SortedMap map;
  for (const registry::Value& v : registry::values(key)) {
    if (!modelled(v)) continue;
    map[v.name] =
        v.type == registry::kDword ? Json(registry::dwordNumber(v)) : Json(registry::text(v));
  }
  return toObject(map);
}

Json readRegistry() {
  Json doc = header(Store::Registry);
  for (const ValueSection& s : kValueSections)
    doc[s.name] = registryValues(registryPath(s.registryKey));
  Json aliases = Json::object();
  for (const AliasKind& k : kAliasKinds)
    aliases[k.name] = registryValues(registryPath(k.registryKey));
  doc["aliases"] = aliases;
  SortedMap interfaces;
  for (const std::string& name : registry::subKeys(kRegistryBase)) {
    if (!startsWithIntf(name)) continue;
    const std::string key = registryPath(name.c_str());
    Json entry = Json::object();
    entry["values"] = registryValues(key);
    SortedMap instruments;
    for (const std::string& device : registry::subKeys(key))
      instruments[device] = registryValues(key + "\\" + device);
    entry["instruments"] = toObject(instruments);
    interfaces[name] = entry;
  }
  Json config = Json::object();
  config["interfaces"] = toObject(interfaces);
  config["otherRecords"] = Json::object();
  doc["configuration"] = config;
  return doc;
}

Json nodeValues(IKestBase* node) {
  SortedMap map;
  if (node)
    for (const auto& v : *node->NameValueMap()) map[v.first] = v.second;
  return toObject(map);
}

// The built-in defaults, as their nodes give them.
Json readDefaults() {
  Json doc = header(Store::Defaults);
  for (const ValueSection& s : kValueSections) {
    NodePtr root(KestDeviceIoConfig::CreateInstance(s.type));
    doc[s.name] = nodeValues(root.get());
  }
  NodePtr aliasRoot(KestDeviceIoConfig::CreateInstance(AliasBaseType));
  Json aliases = Json::object();
  for (const AliasKind& k : kAliasKinds) {
    int found = 0;
    IKestBase* child = nullptr;
    if (aliasRoot) {
      auto it = aliasRoot->findMap(k.defaultsChild, &found);
      if (found) child = it->second;
    }
    aliases[k.name] = nodeValues(child);
  }
  doc["aliases"] = aliases;
  NodePtr config(KestDeviceIoConfig::CreateInstance(KestConfigBaseType));
  SortedMap interfaces;
  if (config)
    for (const auto& intf : *config->SubKeyMap()) {
      Json entry = Json::object();
      entry["values"] = nodeValues(intf.second);
      SortedMap instruments;
      for (const auto& device : *intf.second->SubKeyMap())
        instruments[device.first] = nodeValues(device.second);
      entry["instruments"] = toObject(instruments);
      interfaces[intf.first] = entry;
    }
  Json configuration = Json::object();
  configuration["interfaces"] = toObject(interfaces);
  configuration["otherRecords"] = Json::object();
  doc["configuration"] = configuration;
  return doc;
}

// --- Documents as a store keeps them -----------------------------------------

void forRegistryValues(Json& map, const std::string& at, bool strict) {
  for (auto it = map.begin(); it != map.end(); ++it) {
    const std::string here = at + step(it.key());
    if (strict && it.key().size() >= kRegistryTextLimit)
      throw DocumentError(here, "the registry store reads names of at most " +
                                    std::to_string(kRegistryTextLimit - 1) + " bytes");
    Json& v = it.value();
    if (v.is_string()) {
      if (strict && v.get<std::string>().size() >= kRegistryTextLimit)
        throw DocumentError(here, "the registry store reads values of at most " +
                                      std::to_string(kRegistryTextLimit - 1) + " bytes");
      continue;
    }
    // A REG_DWORD holds 32 bits; it reads back as a signed number.
    const bool fits = v.is_number_unsigned() ? v.get<unsigned long long>() <= 0xFFFFFFFFull
                                             : v.get<long long>() >= -2147483648ll;
    if (!fits) {
      if (strict) throw DocumentError(here, "a REG_DWORD holds -2147483648 to 4294967295");
      continue;
    }
    const long long n = v.is_number_unsigned() ? static_cast<long long>(v.get<unsigned long long>())
                                               : v.get<long long>();
    if (n > 2147483647ll) v = n - 4294967296ll;
  }
}

void checkRegistryKey(const std::string& at, const std::string& key) {
  if (key.size() > kRegistryKeyLimit || key.find('\\') != std::string::npos)
    throw DocumentError(at, "a registry key name has at most 255 characters and no backslash");
}

Json forRegistry(const Json& in, bool strict) {
  Json doc = in;
  for (const ValueSection& s : kValueSections)
    if (doc.contains(s.name)) forRegistryValues(doc[s.name], step(s.name), strict);
  if (doc.contains("aliases"))
    for (const AliasKind& k : kAliasKinds)
      forRegistryValues(doc["aliases"][k.name], std::string("/aliases") + step(k.name), strict);
  if (doc.contains("configuration")) {
    Json& config = doc["configuration"];
    // The registry keeps interfaces in keys named INTF...: another key gets
    // that prefix, so that the library's registry store sees the interface.
    SortedMap renamed;
    for (auto it = config["interfaces"].begin(); it != config["interfaces"].end(); ++it) {
      const std::string at = "/configuration/interfaces" + step(it.key());
      const std::string key = startsWithIntf(it.key()) ? it.key() : "INTF" + it.key();
      Json entry = it.value();
      if (strict) checkRegistryKey(at, key);
      if (renamed.count(key)) {
        if (strict) throw DocumentError(at, "in the registry its key '" + key + "' is taken");
        continue;
      }
      forRegistryValues(entry["values"], at + "/values", strict);
      // The registry store names an instrument by its key, the SQLite store
      // by its "VisaAddress": the key becomes the address, so that the tree
      // holds the same names in both stores.
      SortedMap instruments;
      for (auto d = entry["instruments"].begin(); d != entry["instruments"].end(); ++d) {
        const std::string here = at + "/instruments" + step(d.key());
        const Json& address = d.value().contains("VisaAddress") ? d.value()["VisaAddress"] : Json();
        const std::string name = address.is_string() && !address.get<std::string>().empty()
                                     ? address.get<std::string>()
                                     : d.key();
        if (strict) checkRegistryKey(here, name);
        if (instruments.count(name)) {
          if (strict) throw DocumentError(here, "in the registry its key '" + name + "' is taken");
          continue;
        }
        Json values = d.value();
        forRegistryValues(values, here, strict);
        instruments[name] = values;
      }
      entry["instruments"] = toObject(instruments);
      renamed[key] = entry;
    }
    config["interfaces"] = toObject(renamed);
    if (strict && !config["otherRecords"].empty())
      throw DocumentError(
          "/configuration/otherRecords" + step(config["otherRecords"].begin().key()),
          "the registry store keeps no records outside the interface tree");
  }
  if (strict && doc.contains("pxi"))
    for (auto it = doc["pxi"].begin(); it != doc["pxi"].end(); ++it)
      if (!it.value().empty())
        throw DocumentError("/pxi" + step(it.key()),
                            "the PXI tables live in the SQLite PXI database; import them with "
                            "--source sqlite");
  if (doc.contains("pxi")) doc.erase("pxi");
  return doc;
}

void textOnly(Json& map) {
  for (auto it = map.begin(); it != map.end(); ++it)
    if (!it.value().is_string()) it.value() = it.value().dump();
}

Json forSQLite(const Json& in, bool strict) {
  Json doc = in;
  for (const ValueSection& s : kValueSections)
    if (doc.contains(s.name)) textOnly(doc[s.name]);
  if (doc.contains("aliases"))
    for (const AliasKind& k : kAliasKinds) textOnly(doc["aliases"][k.name]);
  if (doc.contains("pxi")) {
    for (const char* t : kPxiKeyedTables)
      for (auto it = doc["pxi"][t].begin(); it != doc["pxi"][t].end(); ++it) textOnly(it.value());
    textOnly(doc["pxi"][kPxiBuses]);
  }
  if (!doc.contains("configuration")) return doc;
  Json& config = doc["configuration"];
  std::set<std::string, ci_less> keys;
  std::set<std::string> ids;
  auto claim = [&](const std::string& at, const std::string& key) {
    if (!keys.insert(key).second && strict)
      throw DocumentError(at, "the key '" + key +
                                  "' is used twice; SQLite keeps every record of "
                                  "\"ConfigData\" under a key of its own");
  };
  for (auto it = config["interfaces"].begin(); it != config["interfaces"].end(); ++it) {
    const std::string at = "/configuration/interfaces" + step(it.key());
    claim(at, it.key());
    Json& values = it.value()["values"];
    textOnly(values);
    if (values.contains("RecordType")) {
      if (values["RecordType"] != "Interface" && strict)
        throw DocumentError(at + "/values/RecordType",
                            "an interface's RecordType is \"Interface\"");
      values.erase("RecordType");
    }
    std::string id = it.key();
    if (values.contains("PersistentId")) {
      id = values["PersistentId"].get<std::string>();
      if (id == it.key()) values.erase("PersistentId");
    }
    if (!ids.insert(id).second && strict)
      throw DocumentError(at, "another interface has the PersistentId '" + id + "'");
    for (auto d = it.value()["instruments"].begin(); d != it.value()["instruments"].end(); ++d) {
      const std::string here = at + "/instruments" + step(d.key());
      claim(here, d.key());
      Json& dv = d.value();
      textOnly(dv);
      if (dv.contains("RecordType")) {
        if (dv["RecordType"] != "Device" && strict)
          throw DocumentError(here + "/RecordType", "an instrument's RecordType is \"Device\"");
        dv.erase("RecordType");
      }
      if (dv.contains("ParentHashKey")) {
        if (dv["ParentHashKey"] != id && strict)
          throw DocumentError(
              here + "/ParentHashKey",
              "an instrument's ParentHashKey is its interface's PersistentId '" + id + "'");
        dv.erase("ParentHashKey");
      }
    }
  }
  for (auto it = config["otherRecords"].begin(); it != config["otherRecords"].end(); ++it) {
    const std::string at = "/configuration/otherRecords" + step(it.key());
    claim(at, it.key());
    textOnly(it.value());
    // Such a record would read back inside the tree.
    const Json& v = it.value();
    if (strict && v.contains("RecordType") && v["RecordType"] == "Interface")
      throw DocumentError(at + "/RecordType", "an interface belongs in /configuration/interfaces");
    if (strict && v.contains("RecordType") && v["RecordType"] == "Device" &&
        v.contains("ParentHashKey") && ids.count(v["ParentHashKey"].get<std::string>()))
      throw DocumentError(at + "/ParentHashKey",
                          "an instrument of an interface belongs in that interface's instruments");
  }
  return doc;
}

// --- Writing the SQLite store ----------------------------------------------

void insertRecord(Database& db, const std::string& table, const std::string& key,
                  const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& v : values)
    db.execute("INSERT INTO " + table + " (IDKEY, NAME, VALUE) VALUES (" + sqlText(key) + ", " +
               sqlText(v.first) + ", " + sqlText(v.second) + ")");
}

std::vector<std::pair<std::string, std::string>> pairs(const Json& map) {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto it = map.begin(); it != map.end(); ++it)
    out.emplace_back(it.key(), valueText(it.value()));
  return out;
}

void writeSQLiteSections(Database& db, const Json& doc, bool pxi) {
  for (const ValueSection& s : kValueSections) {
    if (!doc.contains(s.name)) continue;
    db.execute(std::string("DELETE FROM ") + s.table);
    for (const auto& v : pairs(doc[s.name]))
      db.execute(std::string("INSERT INTO ") + s.table + " (NAME, VALUE) VALUES (" +
                 sqlText(v.first) + ", " + sqlText(v.second) + ")");
  }
  if (doc.contains("aliases"))
    for (const AliasKind& k : kAliasKinds) {
      db.execute(std::string("DELETE FROM InstrAliasInfo WHERE NAME = '") + k.rowName +
                 "' COLLATE NOCASE");
      for (const auto& v : pairs(doc["aliases"][k.name]))
        insertRecord(db, "InstrAliasInfo", v.first, {{k.rowName, v.second}});
    }
  if (doc.contains("configuration")) {
    const Json& config = doc["configuration"];
    db.execute("DELETE FROM ConfigData");
    for (auto it = config["interfaces"].begin(); it != config["interfaces"].end(); ++it) {
      const Json& values = it.value()["values"];
      const std::string id =
          values.contains("PersistentId") ? values["PersistentId"].get<std::string>() : it.key();
      auto rows = pairs(values);
      rows.insert(rows.begin(), {"RecordType", "Interface"});
      if (!values.contains("PersistentId")) rows.insert(rows.begin() + 1, {"PersistentId", id});
      insertRecord(db, "ConfigData", it.key(), rows);
      for (auto d = it.value()["instruments"].begin(); d != it.value()["instruments"].end(); ++d) {
        auto deviceRows = pairs(d.value());
        deviceRows.insert(deviceRows.begin(), {{"RecordType", "Device"}, {"ParentHashKey", id}});
        insertRecord(db, "ConfigData", d.key(), deviceRows);
      }
    }
    for (auto it = config["otherRecords"].begin(); it != config["otherRecords"].end(); ++it)
      insertRecord(db, "ConfigData", it.key(), pairs(it.value()));
  }
  if (doc.contains("pxi") && pxi) {
    for (const char* t : kPxiKeyedTables) {
      db.execute(std::string("DELETE FROM pxi.") + t);
      for (auto it = doc["pxi"][t].begin(); it != doc["pxi"][t].end(); ++it)
        insertRecord(db, std::string("pxi.") + t, it.key(), pairs(it.value()));
    }
    db.execute(std::string("DELETE FROM pxi.") + kPxiBuses);
    for (const auto& v : pairs(doc["pxi"][kPxiBuses]))
      db.execute(std::string("INSERT INTO pxi.") + kPxiBuses + " (NAME, VALUE) VALUES (" +
                 sqlText(v.first) + ", " + sqlText(v.second) + ")");
  }
}

// The sections of full that doc carries, for comparing what was written.
Json sectionsOf(const Json& full, const Json& doc) {
  Json out = Json::object();
  for (auto it = doc.begin(); it != doc.end(); ++it)
    if (full.contains(it.key())) out[it.key()] = full[it.key()];
  return out;
}

void checkReadBack(const Json& read, const Json& doc, const char* store) {
  const Json got = sectionsOf(read, doc);
  const std::vector<Change> changes = compareDocuments(got, doc, false);
  if (!changes.empty())
    throw WriteError(std::string("the ") + store + " store did not give back what was written (" +
                     changes.front().path + "); nothing was changed");
}

bool pxiEmpty(const Json& doc) {
  if (!doc.contains("pxi")) return true;
  for (auto it = doc["pxi"].begin(); it != doc["pxi"].end(); ++it)
    if (!it.value().empty()) return false;
  return true;
}

void writeSQLite(const Json& doc) {
  const std::string path = quillonPath();
  if (!fileExists(path))
    throw WriteError("the SQLite store cannot be written: '" + path + "' does not exist");
  // The library creates the PXI database with its tables when a PXI record
  // first needs it; a document with PXI rows has it do so now.
  if (!pxiEmpty(doc) && !fileExists(remotePxiPath())) {
    PxiTypeInfo chassis(ChassisBaseType);
    if (IKestBase* root = chassis.getIKestBase()) root->NameValueMap();
  }
  const bool pxi = fileExists(remotePxiPath());
  if (!pxiEmpty(doc) && !pxi)
    throw WriteError("cannot create the PXI database '" + remotePxiPath() + "'");
  Database db(suiteSqliteLibrary(), path, kOpenReadWrite);
  db.query("PRAGMA busy_timeout=5000");
  if (pxi) attachPxi(db);
  DatabaseTransaction transaction(db);
  writeSQLiteSections(db, doc, pxi);
  checkReadBack(readSQLiteSections(db, pxi ? "pxi" : "", Store::SQLite), doc, "SQLite");
  transaction.commit();
}

// --- Writing the registry store --------------------------------------------

bool containsName(const Json& map, const std::string& name) {
  for (auto it = map.begin(); it != map.end(); ++it)
    if (ciEqual(it.key(), name)) return true;
  return false;
}

bool sameRegistryValue(const registry::Value& current, const Json& wanted) {
  if (wanted.is_string())
    return (current.type == registry::kString || current.type == registry::kExpandString) &&
           registry::text(current) == wanted.get<std::string>() &&
           current.bytes.size() == wanted.get<std::string>().size() + 1;
  return current.type == registry::kDword && current.bytes.size() == 4 &&
         registry::dwordNumber(current) == wanted.get<long long>();
}

// Makes key hold exactly the modelled values of map; other types stay.
void applyRegistryValues(const std::string& key, const Json& map) {
  const std::vector<registry::Value> current = registry::values(key);
  std::vector<std::string> removed;
  for (const registry::Value& v : current)
    if (modelled(v) && !containsName(map, v.name)) removed.push_back(v.name);
  std::vector<registry::Value> written;
  for (auto it = map.begin(); it != map.end(); ++it) {
    bool same = false;
    for (const registry::Value& v : current)
      if (ciEqual(v.name, it.key())) same = sameRegistryValue(v, it.value());
    if (!same)
      written.push_back(it.value().is_string()
                            ? registry::stringValue(it.key(), it.value().get<std::string>())
                            : registry::dwordValue(it.key(), it.value().get<long long>()));
  }
  // A key without changes is not opened for writing, so that a restore
  // touches only what the failed import changed.
  if (removed.empty() && written.empty()) return;
  for (const std::string& name : removed) registry::deleteValue(key, name);
  for (const registry::Value& v : written) registry::setValue(key, v);
}

void applyRegistry(const Json& doc) {
  for (const ValueSection& s : kValueSections)
    if (doc.contains(s.name)) applyRegistryValues(registryPath(s.registryKey), doc[s.name]);
  if (doc.contains("aliases"))
    for (const AliasKind& k : kAliasKinds)
      applyRegistryValues(registryPath(k.registryKey), doc["aliases"][k.name]);
  if (!doc.contains("configuration")) return;
  const Json& interfaces = doc["configuration"]["interfaces"];
  for (const std::string& name : registry::subKeys(kRegistryBase))
    if (startsWithIntf(name) && !containsName(interfaces, name))
      registry::deleteTree(registryPath(name.c_str()));
  for (auto it = interfaces.begin(); it != interfaces.end(); ++it) {
    const std::string key = registryPath(it.key().c_str());
    if (!registry::exists(key)) registry::createKey(key);
    applyRegistryValues(key, it.value()["values"]);
    const Json& instruments = it.value()["instruments"];
    for (const std::string& device : registry::subKeys(key))
      if (!containsName(instruments, device)) registry::deleteTree(key + "\\" + device);
    for (auto d = instruments.begin(); d != instruments.end(); ++d) {
      if (!registry::exists(key + "\\" + d.key())) registry::createKey(key + "\\" + d.key());
      applyRegistryValues(key + "\\" + d.key(), d.value());
    }
  }
}

void writeRegistry(const Json& doc) {
  // What will change is saved first, in memory and in a file that outlives a
  // failed restore.
  const Json backup = sectionsOf(readRegistry(), doc);
  std::error_code ec;
  const std::filesystem::path backupFile =
      std::filesystem::temp_directory_path(ec) /
      ("pda-import-backup-" +
       std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + ".json");
  {
    std::ofstream out(backupFile, std::ios::binary);
    out << backup.dump(2) << '\n';
    if (!out) throw WriteError("cannot save the registry backup in '" + backupFile.string() + "'");
  }
  try {
    applyRegistry(doc);
    checkReadBack(readRegistry(), doc, "registry");
  } catch (const std::exception& e) {
    try {
      applyRegistry(backup);
    } catch (const std::exception& again) {
      throw WriteError(std::string(e.what()) + "; restoring the registry failed too (" +
                       again.what() + "): its former content is in '" + backupFile.string() + "'");
    }
    std::filesystem::remove(backupFile, ec);
    throw WriteError(std::string(e.what()) + "; the registry was restored");
  }
  std::filesystem::remove(backupFile, ec);
}

// --- Comparing ---------------------------------------------------------------

struct Leaf {
  std::string path;
  const Json* value;
};
typedef std::map<std::vector<std::string>, Leaf> Leaves;

void flatten(const Json& node, std::vector<std::string>& key, const std::string& path,
             Leaves& out) {
  for (auto it = node.begin(); it != node.end(); ++it) {
    key.push_back(lower(it.key()));
    const std::string here = path + step(it.key());
    if (it.value().is_object())
      flatten(it.value(), key, here, out);
    else
      out[key] = Leaf{here, &it.value()};
    key.pop_back();
  }
}

Leaves leavesOf(const Json& doc, bool skipPxi) {
  Leaves out;
  std::vector<std::string> key;
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    bool skip = skipPxi && it.key() == "pxi";
    for (const char* h : kHeader) skip = skip || it.key() == h;
    if (skip || !it.value().is_object()) continue;
    key.push_back(lower(it.key()));
    flatten(it.value(), key, step(it.key()), out);
    key.pop_back();
  }
  return out;
}

}  // namespace

const char* storeName(Store store) {
  switch (store) {
    case Store::Registry:
      return "registry";
    case Store::SQLite:
      return "sqlite";
    default:
      return "defaults";
  }
}

Json parseDocument(const std::string& text) {
  Shape shape;
  DuplicateFinder finder;
  finder.shape = &shape;
  Json doc;
  try {
    doc = Json::parse(text, std::ref(finder));
  } catch (const Json::parse_error& e) {
    std::string why = e.what();
    const std::size_t cut = why.find("] ");
    if (cut != std::string::npos) why = why.substr(cut + 2);
    throw DocumentError("", "not JSON: " + why);
  }
  if (!shape.failed()) checkShape(shape, doc);
  if (shape.failed()) throw DocumentError(shape.where, shape.why);
  return doc;
}

Json readStore(Store store) {
  switch (store) {
    case Store::Registry:
      return readRegistry();
    case Store::SQLite:
      return readSQLite();
    default:
      return readDefaults();
  }
}

Json forStore(const Json& doc, Store store, bool strict) {
  Json out;
  switch (store) {
    case Store::Registry:
      out = forRegistry(doc, strict);
      break;
    case Store::SQLite:
      out = forSQLite(doc, strict);
      break;
    default:
      out = doc;
  }
  out["store"] = storeName(store);
  return out;
}

Json mergeSections(const Json& current, const Json& incoming) {
  Json out = current;
  for (auto it = incoming.begin(); it != incoming.end(); ++it) {
    bool isHeader = false;
    for (const char* h : kHeader) isHeader = isHeader || it.key() == h;
    if (!isHeader) out[it.key()] = it.value();
  }
  return out;
}

void writeStore(Store store, const Json& doc) {
  switch (store) {
    case Store::Registry:
      return writeRegistry(doc);
    case Store::SQLite:
      return writeSQLite(doc);
    default:
      throw UsageError("the built-in defaults keep nothing: import into the registry or sqlite");
  }
}

std::vector<Change> compareDocuments(const Json& from, const Json& to, bool skipPxi) {
  const Leaves a = leavesOf(from, skipPxi);
  const Leaves b = leavesOf(to, skipPxi);
  std::vector<Change> out;
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() || j != b.end()) {
    if (j == b.end() || (i != a.end() && i->first < j->first)) {
      out.push_back(Change{i->second.path, i->second.value, nullptr});
      ++i;
    } else if (i == a.end() || j->first < i->first) {
      out.push_back(Change{j->second.path, nullptr, j->second.value});
      ++j;
    } else {
      if (valueText(*i->second.value) != valueText(*j->second.value))
        out.push_back(Change{j->second.path, i->second.value, j->second.value});
      ++i;
      ++j;
    }
  }
  return out;
}

std::string changeLine(const Change& change) {
  if (!change.from) return "+ " + change.path + ": " + change.to->dump();
  if (!change.to) return "- " + change.path + ": " + change.from->dump();
  return "~ " + change.path + ": " + change.from->dump() + " -> " + change.to->dump();
}

Json withoutPxi(const Json& doc) {
  Json out = doc;
  if (out.contains("pxi")) out.erase("pxi");
  return out;
}

}  // namespace pdatool
