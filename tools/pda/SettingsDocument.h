#pragma once

// The settings document of `pda export`, `import`, `copy` and `diff`: one
// JSON object that holds everything a store holds, in one model for every
// store. Format (version 1), keys in this order, every map sorted by name
// without regard to letter case (the stores' own order), so that the same
// store content always gives the same bytes:
//
//   {
//     "format": "pda-settings", "version": 1,
//     "store": "sqlite",                       where it came from (not read back)
//     "globalSettings": {NAME: VALUE},         KestInfo
//     "visaSettings": {NAME: VALUE},           VisaInfo
//     "remoteSessionParameters": {NAME: VALUE},SorrelParams
//     "favorites": {NAME: VALUE},              InstrumentFavoritesInfo
//     "aliases": {"visa": {ALIAS: ADDRESS}, "brix": {ALIAS: ADDRESS}},
//     "configuration": {
//       "interfaces": {KEY: {"values": {NAME: VALUE},
//                            "instruments": {KEY: {NAME: VALUE}}}},
//       "otherRecords": {KEY: {NAME: VALUE}}    SQLite records outside the tree
//     },
//     "pxi": {"Chassis": {KEY: {NAME: VALUE}}, "PModules": ..., "SModules": ...,
//             "PciBuses": {NAME: VALUE}}      RemotePXI.db, with the SQLite store only
//   }
//
// A VALUE is text, or a whole number for a registry REG_DWORD. A KEY is the
// record's key in its store: the IDKEY of "ConfigData", the registry key's
// name. The links that the SQLite store keeps in values are implied by the
// nesting: an interface's "RecordType" ("Interface"), an instrument's
// "RecordType" ("Device") and "ParentHashKey" (its interface's
// "PersistentId"), and an interface's "PersistentId" when it equals its key.
//
// Faults are reported with the JSON Pointer (RFC 6901) of the first faulty
// place, e.g. "/configuration/interfaces/INTF0/values/LU".

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace pdatool {

using Json = nlohmann::ordered_json;

enum class Store { Registry, SQLite, Defaults };

const char* storeName(Store store);  // "registry", "sqlite", "defaults"

// A document the tool refuses: where (a JSON Pointer, "" for the whole
// document) and why.
struct DocumentError : std::runtime_error {
  DocumentError(const std::string& where, const std::string& why)
      : std::runtime_error((where.empty() ? std::string("the document") : where) + ": " + why) {}
};

// Parses text and checks its shape; throws DocumentError at the first fault
// (for text that is no JSON: its line and column).
Json parseDocument(const std::string& text);

// Everything the store holds, as a document. Throws WriteError when the
// store cannot be read (never a default shown as stored).
Json readStore(Store store);

// doc as the store would hold it and give it back: the registry keeps
// interfaces only in keys named "INTF...", numbers as REG_DWORD; SQLite keeps
// text. With strict, values the store cannot hold throw DocumentError;
// without, they pass as they are (for diff).
Json forStore(const Json& doc, Store store, bool strict);

// current with each section of incoming put in its place (sections that
// incoming lacks stay as they are).
Json mergeSections(const Json& current, const Json& incoming);

// Writes the sections of doc (already forStore) so that the store holds
// exactly them, all or nothing, and checks that a new read gives them back.
// Throws WriteError (nothing changed) on failure.
void writeStore(Store store, const Json& doc);

struct Change {
  std::string path;            // JSON Pointer
  const Json* from = nullptr;  // null: added
  const Json* to = nullptr;    // null: removed
};

// The values that differ between two documents, in document order. Values
// compare by their text (a number as its decimal digits); names without
// regard to letter case. The header fields and pxi when skipPxi are left out.
std::vector<Change> compareDocuments(const Json& from, const Json& to, bool skipPxi);

// "~ /path: old -> new", "+ /path: new", "- /path: old".
std::string changeLine(const Change& change);

// A document without its pxi section (copy and diff leave PXI alone: both
// stores use the same PXI database).
Json withoutPxi(const Json& doc);

}  // namespace pdatool
