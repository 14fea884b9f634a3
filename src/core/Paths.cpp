#include "core/Paths.h"

#include <cstring>

#include "platform/platform.h"

namespace pda {

bool buildPath(char* out, std::size_t size, const char* dir, const char* file) noexcept {
  if (!out || size == 0) return false;
  out[0] = '\0';
  if (!dir) dir = "";
  if (!file) file = "";
  std::size_t nd = std::strlen(dir);
  std::size_t nf = std::strlen(file);
  bool sep = nd > 0 && dir[nd - 1] != '\\' && dir[nd - 1] != '/';
  std::size_t total = nd + (sep ? 1 : 0) + nf;
  if (total >= size) return false;
  std::memcpy(out, dir, nd);
  if (sep) out[nd++] = PDA_PATH_SEP_CHAR;
  std::memcpy(out + nd, file, nf + 1);
  return true;
}

}  // namespace pda
