#include "platform/posix/ValuesFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/posix/PosixSupport.h"

namespace pda {
namespace platform {

const char* const kValuesFileName = ".values";
const char* const kValuesTempFileName = ".values.tmp";

namespace {

const char kMagic[] = "PDAVALUES 1\n";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
// The smallest record: three lengths and a type, with an empty name and no data.
constexpr std::size_t kMinRecordSize = 12;

// CRC-32 (IEEE), eight bytes at a time ("slicing by 8"): the files are read
// far more often than they are written, and the byte-wise loop was a tenth of
// the time spent reading one.
uint32_t crc32(const unsigned char* p, std::size_t n) {
  static const struct Tables {
    uint32_t t[8][256];
    Tables() {
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
      }
      for (uint32_t i = 0; i < 256; ++i)
        for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFFu];
    }
  } tables;
  const auto& t = tables.t;
  uint32_t c = 0xFFFFFFFFu;
  for (; n >= 8; p += 8, n -= 8) {
    const uint32_t lo =
        c ^ (static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
             (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
    const uint32_t hi = static_cast<uint32_t>(p[4]) | (static_cast<uint32_t>(p[5]) << 8) |
                        (static_cast<uint32_t>(p[6]) << 16) | (static_cast<uint32_t>(p[7]) << 24);
    c = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFFu] ^ t[2][(hi >> 8) & 0xFFu] ^ t[1][(hi >> 16) & 0xFFu] ^ t[0][hi >> 24];
  }
  for (; n > 0; ++p, --n) c = t[0][(c ^ *p) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void putU32(std::string& out, uint32_t v) {
  char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
               static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  out.append(b, 4);
}

// A cursor over the bytes being parsed; every read checks what is left.
class Reader {
 public:
  Reader(const unsigned char* p, std::size_t n) : _p(p), _left(n) {}
  bool u32(uint32_t* v) {
    if (_left < 4) return false;
    *v = static_cast<uint32_t>(_p[0]) | (static_cast<uint32_t>(_p[1]) << 8) |
         (static_cast<uint32_t>(_p[2]) << 16) | (static_cast<uint32_t>(_p[3]) << 24);
    _p += 4;
    _left -= 4;
    return true;
  }
  bool bytes(std::size_t n, std::string* out) {
    if (_left < n) return false;
    out->assign(reinterpret_cast<const char*>(_p), n);
    _p += n;
    _left -= n;
    return true;
  }
  std::size_t left() const { return _left; }

 private:
  const unsigned char* _p;
  std::size_t _left;
};

std::string lowered(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool equalLowered(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Whether two names are equal without regard to case. A key holds a handful
// of values, which are compared pair by pair without copying a name; many
// are lowered once and sorted.
bool hasDuplicateName(const std::vector<RegValue>& values) {
  if (values.size() <= 32) {
    for (std::size_t i = 0; i < values.size(); ++i)
      for (std::size_t j = i + 1; j < values.size(); ++j)
        if (equalLowered(values[i].name, values[j].name)) return true;
    return false;
  }
  std::vector<std::string> names;
  names.reserve(values.size());
  for (const RegValue& v : values) names.push_back(lowered(v.name));
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) != names.end();
}

}  // namespace

std::string serializeValues(const std::vector<RegValue>& values) {
  std::size_t total = kMagicSize + 8;
  for (const RegValue& v : values) total += kMinRecordSize + v.name.size() + v.data.size();
  std::string out;
  out.reserve(total);
  out.append(kMagic, kMagicSize);
  putU32(out, static_cast<uint32_t>(values.size()));
  for (const RegValue& v : values) {
    putU32(out, static_cast<uint32_t>(v.name.size()));
    out += v.name;
    putU32(out, v.type);
    putU32(out, static_cast<uint32_t>(v.data.size()));
    out += v.data;
  }
  putU32(out, crc32(reinterpret_cast<const unsigned char*>(out.data()), out.size()));
  return out;
}

bool parseValues(const void* bytes, std::size_t size, std::vector<RegValue>* out) {
  if (!out) return false;
  out->clear();
  if (!bytes || size < kMagicSize + 8) return false;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  if (std::memcmp(p, kMagic, kMagicSize) != 0) return false;

  // The CRC first: a damaged file is rejected before any of its lengths is trusted.
  std::size_t body = size - 4;
  Reader crcReader(p + body, 4);
  uint32_t stored = 0;
  crcReader.u32(&stored);
  if (crc32(p, body) != stored) return false;

  Reader r(p + kMagicSize, body - kMagicSize);
  uint32_t count = 0;
  if (!r.u32(&count)) return false;
  // Each record takes at least kMinRecordSize bytes, so a count beyond what the
  // file can hold is garbage; this also bounds the reservation below.
  if (count > r.left() / kMinRecordSize) return false;

  std::vector<RegValue> values;
  values.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    RegValue v;
    uint32_t nameLength = 0, dataLength = 0;
    if (!r.u32(&nameLength) || nameLength > kMaxValueNameLength) return false;
    if (!r.bytes(nameLength, &v.name)) return false;
    if (v.name.find('\0') != std::string::npos) return false;
    if (!r.u32(&v.type) || !r.u32(&dataLength)) return false;
    if (!r.bytes(dataLength, &v.data)) return false;
    values.push_back(std::move(v));
  }
  if (r.left() != 0) return false;

  // Names are unique without regard to case; a file that says otherwise was
  // not written by us.
  if (hasDuplicateName(values)) return false;

  *out = std::move(values);
  return true;
}

ValuesReadResult readValuesFile(const std::string& path, std::vector<RegValue>* values) {
  return readValuesFileAt(AT_FDCWD, path, values);
}

ValuesReadResult readValuesFileAt(int dirFd, const std::string& path,
                                  std::vector<RegValue>* values) {
  values->clear();
  int fd = ::openat(dirFd, path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ValuesReadResult::missing : ValuesReadResult::failed;
  // A values file is small and is never changed in place (a writer renames a
  // whole new file over it), so one read into a block usually takes all of
  // it. A read that fills less than the block ended at the end of a regular
  // file, and a file that parses then is complete: its CRC covers every byte
  // before it. Anything else is read on to the end before it is judged, so
  // that a short read never turns a good file into garbage.
  char block[16384];
  std::string bytes;
  for (;;) {
    ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      errno = saved;
      return ValuesReadResult::failed;
    }
    if (n == 0) break;
    if (bytes.empty() && static_cast<std::size_t>(n) < sizeof block) {
      if (parseValues(block, static_cast<std::size_t>(n), values)) {
        ::close(fd);
        return ValuesReadResult::ok;
      }
    }
    bytes.append(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return parseValues(bytes.data(), bytes.size(), values) ? ValuesReadResult::ok
                                                         : ValuesReadResult::garbage;
}

int writeValuesFile(const std::string& dir, const std::vector<RegValue>& values) {
  std::string bytes = serializeValues(values);
  std::string temp = dir + "/" + kValuesTempFileName;
  std::string target = dir + "/" + kValuesFileName;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = posix::writeAll(fd, bytes.data(), bytes.size());
  // No fsync: the rename alone means a process killed at any moment leaves
  // the old file or the whole new one, and like the Windows registry, which
  // flushes its hives lazily, a value is not forced to the disk at every
  // write (that cost 10 to 25 ms per value and dominated building a tree,
  // which writes three flags per interface). Journaling file systems also
  // order the data of a file replaced by rename before the rename itself.
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

}  // namespace platform
}  // namespace pda
