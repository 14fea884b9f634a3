// pda chassis add|remove|list: remote PXI chassis through the chassis engine
// and the PXI type record. Both always use the remote PXI database, whatever
// the process-wide store, so these commands take no --source.

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "CommandLine.h"
#include "Records.h"
#include "StoreHealth.h"
#include "Table.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct ChassisOptions {
  std::string serial;
  std::string vendor;
  std::string model;
  std::string usb;
  int manfId = 0;
  int modelId = 0;
  int state = 1;
  bool json = false;
};

// Copies text into a fixed field of the chassis structure; a text that does
// not fit is refused rather than cut.
template <std::size_t N>
void fill(char (&field)[N], const std::string& text, const char* what) {
  if (text.size() >= N)
    throw UsageError(std::string(what) + " is longer than " + std::to_string(N - 1) +
                     " characters");
  if (text.find('\0') != std::string::npos) throw UsageError(std::string(what) + " holds a NUL");
  std::memcpy(field, text.c_str(), text.size() + 1);
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The stored chassis name matching serial without regard to case; "" if none.
std::string knownChassis(const std::string& serial) {
  throwIfAny(pxiProblems());
  PxiTypeInfo record(ChassisBaseType);
  IKestBase* root = record.getIKestBase();
  if (!root) throw WriteError("the remote PXI database is not available");
  for (const auto& child : *root->SubKeyMap())
    if (sameIgnoringCase(child.first, serial)) return child.first;
  return "";
}

void runAdd(const ChassisOptions& o) {
  if (o.serial.empty()) throw UsageError("the serial number is empty");
  ChassisInfo info{};
  fill(info.ChassisSN, o.serial, "the serial number");
  fill(info.Vendor, o.vendor, "--vendor");
  fill(info.Model, o.model, "--model");
  fill(info.USBAddress, o.usb, "--usb");
  info.ManfID = o.manfId;
  info.ModelID = o.modelId;
  info.State = o.state;
  const std::string known = knownChassis(o.serial);
  BasaltDataEngine engine;
  if (engine.addChassis(info) != 0)
    throw WriteError("cannot add chassis " + o.serial + " to the remote PXI database");
  if (known.empty())
    std::cout << "Added chassis " << o.serial << '\n';
  else
    std::cout << "Chassis " << known
              << " was already known: marked present (State = 1), its other values kept\n";
}

void runRemove(const ChassisOptions& o) {
  if (o.serial.empty()) throw UsageError("the serial number is empty");
  if (knownChassis(o.serial).empty())
    throw WriteError("no chassis " + o.serial + " in the remote PXI database");
  BasaltDataEngine engine;
  if (engine.deleteChassis(o.serial.c_str()) != 0)
    throw WriteError("cannot remove chassis " + o.serial + " from the remote PXI database");
  std::cout << "Removed chassis " << o.serial << '\n';
}

void runList(const ChassisOptions& o) {
  throwIfAny(pxiProblems());
  PxiTypeInfo record(ChassisBaseType);
  IKestBase* root = record.getIKestBase();
  if (!root) throw WriteError("the remote PXI database is not available");
  if (o.json) {
    Json list = Json::array();
    for (const auto& child : *root->SubKeyMap()) {
      Json entry = Json::object();
      entry["serial"] = child.first;
      // The numeric fields as numbers, the rest as stored.
      for (const auto& pair : nodeValues(child.second)) {
        const bool numeric =
            pair.first == "ManfID" || pair.first == "ModelID" || pair.first == "State";
        char* end = nullptr;
        const long long value = std::strtoll(pair.second.c_str(), &end, 10);
        if (numeric && !pair.second.empty() && end && *end == '\0')
          entry[pair.first] = value;
        else
          entry[pair.first] = pair.second;
      }
      list.push_back(entry);
    }
    std::cout << Json{{"chassis", list}}.dump(2) << '\n';
    return;
  }
  Table table;
  table.addRow({"SERIAL", "VENDOR", "MODEL", "USB ADDRESS", "MANF ID", "MODEL ID", "STATE"});
  for (const auto& child : *root->SubKeyMap()) {
    IKestBase* node = child.second;
    auto value = [node](const char* name) {
      if (!node) return std::string();
      const ::NameValueMap* values = node->NameValueMap();
      auto it = values->find(name);
      return it == values->end() ? std::string() : it->second;
    };
    table.addRow({child.first, value("Vendor"), value("Model"), value("USBAddress"),
                  value("ManfID"), value("ModelID"), value("State")});
  }
  if (root->SubKeyMap()->empty()) {
    std::cout << "(no chassis)\n";
    return;
  }
  table.print(std::cout);
}

void registerChassis(CLI::App& app) {
  CLI::App* chassis = app.add_subcommand(
      "chassis", "Add, remove and list remote PXI chassis (remote PXI database)");
  chassis->require_subcommand(1);

  auto a = std::make_shared<ChassisOptions>();
  CLI::App* add = chassis->add_subcommand(
      "add", "Record a chassis; a known serial number is only marked present (State = 1)");
  add->add_option("SERIAL", a->serial, "Serial number")->required();
  add->add_option("--vendor", a->vendor, "Vendor name")->required();
  add->add_option("--model", a->model, "Model name")->required();
  add->add_option("--usb", a->usb, "USB address")->required();
  const CLI::Validator id = wholeNumber(-2147483648LL, 2147483647LL);
  add->add_option("--manf-id", a->manfId, "Manufacturer id (a number)")->required()->check(id);
  add->add_option("--model-id", a->modelId, "Model id (a number)")->required()->check(id);
  add->add_option("--state", a->state, "State (a number; default 1)")->check(id);
  add->footer(
      "Example:\n  pda chassis add MY5400123 --vendor Tessaro --model M9019A "
      "--usb USB0::0x2A8D::0x0001::MY5400123::0::INSTR --manf-id 10893 --model-id 1 --state 1");
  add->callback([a]() { runAdd(*a); });

  auto r = std::make_shared<ChassisOptions>();
  CLI::App* remove = chassis->add_subcommand("remove", "Remove a chassis by its serial number");
  remove->add_option("SERIAL", r->serial, "Serial number (letter case does not matter)")
      ->required();
  remove->footer("Example:\n  pda chassis remove MY5400123");
  remove->callback([r]() { runRemove(*r); });

  auto l = std::make_shared<ChassisOptions>();
  CLI::App* list = chassis->add_subcommand("list", "List the recorded chassis");
  list->add_flag("--json", l->json, "Print JSON");
  list->footer("Example:\n  pda chassis list --json");
  list->callback([l]() { runList(*l); });
}

}  // namespace

PDA_TOOL_COMMANDS("chassis", 50, registerChassis);

}  // namespace pdatool
