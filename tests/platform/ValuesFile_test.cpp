// The values file: exact round trips, and rejection of every damaged or
// made-up file without reading outside it.

// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "platform/posix/ValuesFile.h"

#  include "PlatformTestUtil.h"

using namespace pda::platform;

namespace {

RegValue value(const std::string& name, uint32_t type, const std::string& data) {
  RegValue v;
  v.name = name;
  v.type = type;
  v.data = data;
  return v;
}

std::vector<RegValue> sample() {
  return {value("", 1, std::string("default\0", 8)),
          value("Binary", 3, std::string("\x80\0\xff\x01", 4)),
          value("Dword", 4, std::string("\xff\xff\xff\xff", 4)),
          value("Multi", 7, std::string("a\0bc\0\0", 6)),
          value("NoTerminator", 1, "abc"),
          value("None", 0, ""),
          value("Odd type", 0x12345678u, "x")};
}

void expectSame(const std::vector<RegValue>& a, const std::vector<RegValue>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].name, b[i].name) << i;
    EXPECT_EQ(a[i].type, b[i].type) << i;
    EXPECT_EQ(a[i].data, b[i].data) << i;
  }
}

// CRC-32 (IEEE, reflected; "123456789" gives 0xCBF43926), written out here
// independently of the library, to forge files whose checksum is right and
// whose content is not.
uint32_t crc32(const std::string& s) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : s) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

std::string u32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

std::string sealed(const std::string& body) {
  return body + u32(crc32(body));
}

bool parses(const std::string& bytes) {
  std::vector<RegValue> out{value("stale", 1, "x")};
  bool ok = parseValues(bytes.data(), bytes.size(), &out);
  if (!ok) {
    EXPECT_TRUE(out.empty()) << "a rejected file left values behind";
  }
  return ok;
}

}  // namespace

// Order, types and bytes survive a round trip; null arguments, every cut and
// every changed byte are refused.
TEST(ValuesFileFormat, RoundTripAndDamagedFiles) {
  std::vector<RegValue> in = sample();
  std::string bytes = serializeValues(in);
  std::vector<RegValue> out;
  ASSERT_TRUE(parseValues(bytes.data(), bytes.size(), &out));
  expectSame(in, out);

  std::vector<RegValue> none;
  std::string empty = serializeValues(none);
  ASSERT_TRUE(parseValues(empty.data(), empty.size(), &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(parseValues(nullptr, 0, &out));
  EXPECT_FALSE(parseValues(bytes.data(), bytes.size(), nullptr));
  // The checksum and the lengths reject every cut and every changed byte.
  for (std::size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(parses(bytes.substr(0, n))) << "accepted the first " << n << " bytes";
  EXPECT_FALSE(parses(bytes + "x")) << "accepted trailing bytes";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::string damaged = bytes;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x20);
    EXPECT_FALSE(parses(damaged)) << "accepted a change at byte " << i;
  }
}

// Files with a right checksum and a wrong content are rejected.
TEST(ValuesFileFormat, ForgedFilesWithValidChecksumAreRejected) {
  const std::string header = "PDAVALUES 1\n";
  // A record count far beyond what the bytes can hold.
  EXPECT_FALSE(parses(sealed(header + u32(0xFFFFFFFFu))));
  // A second record cut short after its type, within what the count allows.
  EXPECT_FALSE(
      parses(sealed(header + u32(2) + u32(4) + "abcd" + u32(1) + u32(0) + u32(0) + u32(1))));
  // A name length that runs past the end.
  EXPECT_FALSE(parses(sealed(header + u32(1) + u32(100) + u32(1) + u32(0))));
  // A data length that runs past the end.
  EXPECT_FALSE(parses(sealed(header + u32(1) + u32(1) + "A" + u32(1) + u32(0x7FFFFFFFu))));
  // A name length beyond the registry's limit, even with the bytes present.
  std::string longName(16384, 'n');
  EXPECT_FALSE(parses(sealed(header + u32(1) + u32(16384) + longName + u32(1) + u32(0))));
  std::string limitName(16383, 'n');
  EXPECT_TRUE(parses(sealed(header + u32(1) + u32(16383) + limitName + u32(1) + u32(0))));
  // A NUL inside a name, and two names equal but for case.
  EXPECT_FALSE(parses(serializeValues({value(std::string("a\0b", 3), 1, "")})));
  EXPECT_FALSE(parses(serializeValues({value("Name", 1, "1"), value("nAME", 1, "2")})));
  // The same among few and among many names (sorted past 32), wherever the pair stands.
  for (std::size_t count : {32u, 33u}) {
    std::vector<RegValue> many;
    for (std::size_t i = 0; i < count; ++i) many.push_back(value("v" + std::to_string(i), 1, ""));
    EXPECT_TRUE(parses(serializeValues(many))) << count;
    many.push_back(value("V" + std::to_string(count / 2), 1, ""));
    EXPECT_FALSE(parses(serializeValues(many))) << count;
    many.back().name = "V" + std::to_string(count);
    many.insert(many.begin(), value("v" + std::to_string(count), 1, ""));
    EXPECT_FALSE(parses(serializeValues(many))) << count;
    many.back().name += "x";
    EXPECT_TRUE(parses(serializeValues(many))) << count;
  }
  // Another version.
  EXPECT_FALSE(parses(sealed("PDAVALUES 2\n" + u32(0))));
  // A valid file followed by a second checksum.
  std::string ok = serializeValues(sample());
  EXPECT_FALSE(parses(sealed(ok)));
}

// A missing, a garbage and an unreadable file are told apart; files around the
// size of one read.
TEST(ValuesFileIo, ReadResultsAndFilesAroundTheReadBlock) {
  pdatest::TempMachine machine;
  std::vector<RegValue> out{value("x", 1, "")};
  EXPECT_EQ(readValuesFile(machine.path("nothing"), &out), ValuesReadResult::missing);
  EXPECT_TRUE(out.empty());

  std::ofstream(machine.path("garbage")) << "PDAVALUES 1\nthis is not a values file";
  out.push_back(value("x", 1, ""));
  EXPECT_EQ(readValuesFile(machine.path("garbage"), &out), ValuesReadResult::garbage);
  EXPECT_TRUE(out.empty());

  ASSERT_EQ(mkdir(machine.path("adir").c_str(), 0755), 0);
  EXPECT_EQ(readValuesFile(machine.path("adir"), &out), ValuesReadResult::failed);

  EXPECT_NE(writeValuesFile(machine.path("no/such/dir"), sample()), 0);

  // Files around the size of one read are read whole by path and below a
  // directory, with no temporary left; a valid file with a byte more is garbage.
  const std::string& dir = machine.root();
  const int dirFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dirFd, 0);
  // One value named "V": 33 bytes of header, lengths, type and CRC around its data.
  for (std::size_t size :
       {std::size_t{33}, std::size_t{16384}, std::size_t{16385}, std::size_t{100000}}) {
    std::vector<RegValue> values{value("V", 3, std::string(size - 33, 'x'))};
    if (!values[0].data.empty()) values[0].data.back() = 'y';
    ASSERT_EQ(writeValuesFile(dir, values), 0);
    struct stat st;
    ASSERT_EQ(stat((dir + "/.values").c_str(), &st), 0);
    ASSERT_EQ(static_cast<std::size_t>(st.st_size), size);
    EXPECT_NE(access((dir + "/.values.tmp").c_str(), F_OK), 0);
    out.clear();
    ASSERT_EQ(readValuesFileAt(dirFd, ".values", &out), ValuesReadResult::ok) << size;
    expectSame(values, out);

    std::ofstream(dir + "/.values", std::ios::app | std::ios::binary) << 'z';
    out.push_back(value("x", 1, ""));
    EXPECT_EQ(readValuesFileAt(dirFd, ".values", &out), ValuesReadResult::garbage) << size + 1;
    EXPECT_TRUE(out.empty());
  }
  close(dirFd);
}

#endif  // !_WIN32
