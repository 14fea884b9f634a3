#include "pda/SQLiteDynamic.h"

#include <cstring>

#include "core/LibraryLoader.h"
#include "platform/platform.h"

namespace {

// A stand-in for an entry point that the library lacks (or for every entry
// point while nothing is loaded): it ignores its arguments, writes no
// out-parameter and returns Result.
template <auto Result, typename Fn>
struct Stub;

template <auto Result, typename R, typename... Args>
struct Stub<Result, R (*)(Args...)> {
  static R call(Args...) { return static_cast<R>(Result); }
};

template <auto Result, typename R, typename... Args>
struct Stub<Result, R (*)(Args..., ...)> {
  static R call(Args..., ...) { return static_cast<R>(Result); }
};

constexpr char kErrmsgMissing[] = "sqlite3_errmsg function not found";
constexpr char kErrstrMissing[] = "sqlite3_errstr function not found";

// Puts an address found in the library into its slot, or the slot's stub
// when address is null. The detour through void(*)() is the one function
// pointer conversion that the compiler accepts between unrelated signatures.
typedef void (*Bind)(SQLiteDynamic& binding, FARPROC address);

struct EntryPoint {
  const char* name;
  Bind bind;
};

#define PDA_SQLITE_ENTRY(slot, stubResult)                                             \
  {                                                                                    \
#slot, [](SQLiteDynamic& binding, FARPROC address) {                                 \
      typedef decltype(binding.slot) Fn;                                                 \
      binding.slot = address ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address)) \
                             : &Stub<stubResult, Fn>::call;                              \
    } \
  }

// The seventeen entry points in slot order: the name looked up, the slot it
// fills and what the slot answers when the name is missing, side by side.
const EntryPoint kEntryPoints[] = {
    PDA_SQLITE_ENTRY(sqlite3_close_v2, 1),
    PDA_SQLITE_ENTRY(sqlite3_column_count, -1),
    PDA_SQLITE_ENTRY(sqlite3_column_int, 1),
    PDA_SQLITE_ENTRY(sqlite3_column_text, nullptr),
    PDA_SQLITE_ENTRY(sqlite3_column_type, -1),
    PDA_SQLITE_ENTRY(sqlite3_errcode, 1),
    PDA_SQLITE_ENTRY(sqlite3_errmsg, kErrmsgMissing),
    PDA_SQLITE_ENTRY(sqlite3_errstr, kErrstrMissing),
    PDA_SQLITE_ENTRY(sqlite3_extended_errcode, 1),
    PDA_SQLITE_ENTRY(sqlite3_finalize, 1),
    PDA_SQLITE_ENTRY(sqlite3_open_v2, 1),
    PDA_SQLITE_ENTRY(sqlite3_prepare_v2, 1),
    PDA_SQLITE_ENTRY(sqlite3_step, 1),
    PDA_SQLITE_ENTRY(sqlite3_reset, 1),
    PDA_SQLITE_ENTRY(sqlite3_config, 1),
    PDA_SQLITE_ENTRY(sqlite3_initialize, 1),
    PDA_SQLITE_ENTRY(sqlite3_shutdown, 1),
};

#undef PDA_SQLITE_ENTRY

static_assert(sizeof kEntryPoints / sizeof kEntryPoints[0] == 17, "one table row per entry point");

}  // namespace

// A path that does not fit the 260-byte field is not shortened: nothing is
// loaded, and _dllPath stays "" (a shortened path could name another file).
SQLiteDynamic::SQLiteDynamic(const char* dllPath) {
  _dllPath[0] = '\0';
  setDefaults();
  if (!dllPath) return;
  const std::size_t n = std::strlen(dllPath);
  if (n >= sizeof _dllPath) return;
  std::memcpy(_dllPath, dllPath, n + 1);

  HMODULE module = pda::loadSuiteLibrary(_dllPath);
  if (!module) return;
  _hModule = module;
  _missingCount = 0;
  for (const EntryPoint& entry : kEntryPoints) {
    FARPROC address = GetProcAddress(module, entry.name);
    if (!address) ++_missingCount;
    entry.bind(*this, address);
  }
}

SQLiteDynamic::~SQLiteDynamic() {
  setDefaults();
}

void SQLiteDynamic::setDefaults() {
  _hModule = nullptr;
  _missingCount = -1;
  for (const EntryPoint& entry : kEntryPoints) entry.bind(*this, nullptr);
}

void SQLiteDynamic::unload() {
  if (_hModule) FreeLibrary(static_cast<HMODULE>(_hModule));
  setDefaults();
}
