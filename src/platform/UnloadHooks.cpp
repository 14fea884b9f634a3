// The registered unload hooks: one list for both platforms, run by the
// library's entry point (posix/entry.cpp, win32/DllMain.cpp).

#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace pda {
namespace platform {

namespace {

struct Hooks {
  std::mutex mutex;
  std::vector<void (*)()> list;
};

// Never destroyed: the hooks run from the library's destructor, after the
// statics of its own translation units may be gone.
Hooks& hooks() {
  static auto* h = new Hooks;
  return *h;
}

}  // namespace

void registerUnloadHook(void (*hook)()) {
  if (!hook) return;
  Hooks& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  h.list.push_back(hook);
}

void runUnloadHooks() noexcept {
  std::vector<void (*)()> list;
  {
    Hooks& h = hooks();
    std::lock_guard<std::mutex> guard(h.mutex);
    list.swap(h.list);
  }
  for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)();
}

}  // namespace platform
}  // namespace pda
