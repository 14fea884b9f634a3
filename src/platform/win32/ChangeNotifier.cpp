// The change notifier on Windows: RegNotifyChangeKeyValue on the watched keys
// (with their subtrees) and FindFirstChangeNotification on the directories
// of watched files. A directory's notification does not say which file
// changed, so a watched file's neighbours wake the waiter too; ChangeWatch
// asks SQLite whether the database really changed.

#include <string>
#include <vector>

#include "platform/ChangeNotifier.h"
#include "platform/platform.h"

namespace pda {
namespace platform {

namespace {

const DWORD kKeyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
const DWORD kFileFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

class Win32Notifier : public ChangeNotifier {
 public:
  explicit Win32Notifier(HANDLE wakeEvent) : _wake(wakeEvent) {}
  ~Win32Notifier() override {
    for (Source& s : _sources) {
      if (s.key) {
        RegCloseKey(s.key);
        CloseHandle(s.handle);
      } else {
        FindCloseChangeNotification(s.handle);
      }
    }
    CloseHandle(_wake);
  }

  bool watchKey(const char* subKey) override {
    if (!subKey || _sources.size() + 1 >= MAXIMUM_WAIT_OBJECTS) return false;
    // A missing key is watched from its nearest existing ancestor.
    std::string path(subKey);
    HKEY key = nullptr;
    while (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_NOTIFY | KEY_WOW64_64KEY, &key) !=
           ERROR_SUCCESS) {
      key = nullptr;
      if (path.empty()) return false;
      const std::size_t cut = path.rfind('\\');
      path = cut == std::string::npos ? std::string() : path.substr(0, cut);
    }
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event) {
      RegCloseKey(key);
      return false;
    }
    if (RegNotifyChangeKeyValue(key, TRUE, kKeyFilter, event, TRUE) != ERROR_SUCCESS) {
      RegCloseKey(key);
      CloseHandle(event);
      return false;
    }
    _sources.push_back(Source{event, key});
    return true;
  }

  bool watchFile(const char* path) override {
    if (!path || _sources.size() + 1 >= MAXIMUM_WAIT_OBJECTS) return false;
    std::string dir(path);
    const std::size_t cut = dir.find_last_of("\\/");
    dir = cut == std::string::npos ? "." : dir.substr(0, cut);
    HANDLE handle = FindFirstChangeNotificationA(dir.c_str(), FALSE, kFileFilter);
    if (handle == INVALID_HANDLE_VALUE) return false;
    _sources.push_back(Source{handle, nullptr});
    return true;
  }

  int wait(unsigned int timeoutMs) override {
    std::vector<HANDLE> handles(1, _wake);
    for (const Source& s : _sources) handles.push_back(s.handle);
    const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                           FALSE, timeoutMs);
    if (r == WAIT_TIMEOUT) return 0;
    if (r == WAIT_OBJECT_0) return -1;  // the wake event stays set
    if (r < WAIT_OBJECT_0 + 1 || r >= WAIT_OBJECT_0 + handles.size()) return -1;
    // Every signalled source is re-armed, so that one change is reported once.
    for (Source& s : _sources) {
      if (WaitForSingleObject(s.handle, 0) != WAIT_OBJECT_0 && s.handle != handles[r]) continue;
      if (s.key)
        RegNotifyChangeKeyValue(s.key, TRUE, kKeyFilter, s.handle, TRUE);
      else
        FindNextChangeNotification(s.handle);
    }
    return 1;
  }

  void wake() noexcept override { SetEvent(_wake); }

 private:
  struct Source {
    HANDLE handle;  // the event of a key, the notification of a directory
    HKEY key;       // null for a directory
  };
  HANDLE _wake;
  std::vector<Source> _sources;
};

}  // namespace

std::unique_ptr<ChangeNotifier> createChangeNotifier() {
  HANDLE wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!wake) return nullptr;
  return std::unique_ptr<ChangeNotifier>(new Win32Notifier(wake));
}

}  // namespace platform
}  // namespace pda
