// The registry stand-in's values file: arbitrary bytes as the file of a key.
//
// - The parser never reads outside the bytes, and accepts exactly the files
//   the writer makes: what it accepts serializes back to the same bytes, with
//   unique names (without regard to case), none holding a NUL.
// - The same bytes put in place as the key's file and read through the
//   registry calls: enumerating and querying the values with buffers of
//   every kind of size never writes past a buffer, and gives what the parser
//   gave; a write then replaces a garbage file by a whole one.
// - A list of values made from the input round-trips through the file format,
//   and no cut of its bytes parses.

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "pda/Win32.h"
#include "platform/posix/ValuesFile.h"

using pda::platform::RegValue;
using pdafuzz::ciEqual;
using pdafuzz::fail;

namespace {

const char kKey[] = "SOFTWARE\\FuzzValues";

void checkParsed(const uint8_t* data, std::size_t size, const std::vector<RegValue>& values) {
  const std::string again = pda::platform::serializeValues(values);
  if (again.size() != size || (size && std::memcmp(again.data(), data, size) != 0))
    fail("an accepted values file does not serialize back to its bytes");
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i].name.find('\0') != std::string::npos) fail("a value name holds a NUL");
    if (values[i].name.size() > pda::platform::kMaxValueNameLength)
      fail("a value name is too long");
    for (std::size_t j = i + 1; j < values.size(); ++j)
      if (ciEqual(values[i].name, values[j].name)) fail("two values with one name");
  }
}

// Reads the key through the registry calls and compares with the parse.
void readThroughRegistry(const std::vector<RegValue>& expected, pdafuzz::Input& in) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    fail("cannot open the key");
  DWORD count = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                       &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    fail("RegQueryInfoKeyA failed");
  if (count != expected.size()) fail("the registry counts other values than the file holds");
  for (DWORD i = 0; i < count && i < 64; ++i) {
    const RegValue& v = expected[i];
    // Buffers exactly as large as the input says, on the heap, so that a
    // write past them is caught.
    const DWORD nameSize = static_cast<DWORD>(in.number(static_cast<uint32_t>(v.name.size()) + 3));
    const DWORD dataSize = static_cast<DWORD>(in.number(static_cast<uint32_t>(v.data.size()) + 3));
    std::vector<char> name(nameSize ? nameSize : 1);
    std::vector<BYTE> bytes(dataSize ? dataSize : 1);
    DWORD nameLength = nameSize, type = 0, length = dataSize;
    const LONG rc = RegEnumValueA(key, i, nameSize ? name.data() : nullptr, &nameLength, nullptr,
                                  &type, dataSize ? bytes.data() : nullptr, &length);
    if (rc == ERROR_SUCCESS) {
      if (nameLength != v.name.size() ||
          std::memcmp(name.data(), v.name.data(), v.name.size()) != 0)
        fail("RegEnumValueA gives another name than the file holds");
      if (type != v.type) fail("RegEnumValueA gives another type");
      if (dataSize &&
          (length != v.data.size() || std::memcmp(bytes.data(), v.data.data(), length) != 0))
        fail("RegEnumValueA gives other data");
    } else if (rc != ERROR_MORE_DATA && rc != ERROR_INVALID_PARAMETER) {
      fail("RegEnumValueA failed with " + std::to_string(rc));
    }
    DWORD queried = dataSize;
    const LONG q = RegQueryValueExA(key, v.name.c_str(), nullptr, &type,
                                    dataSize ? bytes.data() : nullptr, &queried);
    if (q == ERROR_SUCCESS && queried != v.data.size()) fail("RegQueryValueExA gives another size");
    if (q != ERROR_SUCCESS && q != ERROR_MORE_DATA) fail("RegQueryValueExA cannot find " + v.name);
  }
  RegCloseKey(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string& root = pdafuzz::machine();

  std::vector<RegValue> parsed;
  const bool accepted = pda::platform::parseValues(data, size, &parsed);
  if (accepted)
    checkParsed(data, size, parsed);
  else if (!parsed.empty())
    fail("a rejected file left values behind");

  // The same bytes as the key's file.
  {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      fail("cannot create the key");
    RegCloseKey(key);
    std::ofstream file(root + "/registry/HKLM/SOFTWARE/FuzzValues/.values",
                       std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  pdafuzz::Input in(data, size);
  readThroughRegistry(accepted ? parsed : std::vector<RegValue>(), in);

  // A write replaces a garbage file by a whole one that holds the write.
  {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      fail("cannot open the key to write");
    const BYTE one[4] = {1, 0, 0, 0};
    if (RegSetValueExA(key, "FuzzWritten", 0, REG_DWORD, one, sizeof one) != ERROR_SUCCESS)
      fail("cannot write into the key");
    RegCloseKey(key);
    std::vector<RegValue> after;
    if (pda::platform::readValuesFile(root + "/registry/HKLM/SOFTWARE/FuzzValues/.values",
                                      &after) != pda::platform::ValuesReadResult::ok)
      fail("a write left a values file that does not parse");
    bool found = false;
    for (const RegValue& v : after) found = found || v.name == "FuzzWritten";
    if (!found) fail("the write is not in the file");
  }

  // Values made from the input round-trip; no cut of their file parses.
  pdafuzz::Input values(data, size);
  std::vector<RegValue> made;
  while (!values.done() && made.size() < 32) {
    RegValue v;
    v.name = values.cText();
    v.type = values.number(16);
    v.data = values.text();
    bool duplicate = false;
    for (const RegValue& m : made) duplicate = duplicate || ciEqual(m.name, v.name);
    if (!duplicate) made.push_back(v);
  }
  const std::string bytes = pda::platform::serializeValues(made);
  std::vector<RegValue> back;
  if (!pda::platform::parseValues(bytes.data(), bytes.size(), &back))
    fail("a written file does not parse");
  if (back.size() != made.size()) fail("values lost in a round trip");
  for (std::size_t i = 0; i < made.size(); ++i)
    if (back[i].name != made[i].name || back[i].type != made[i].type ||
        back[i].data != made[i].data)
      fail("a value changed in a round trip");
  const std::size_t cut = size ? data[0] % (bytes.size() + 1) : 0;
  if (cut < bytes.size() && pda::platform::parseValues(bytes.data(), cut, &back))
    fail("a cut file parses");
  return 0;
}
