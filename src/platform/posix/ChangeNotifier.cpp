// The change notifier of the stand-in: inotify on the emulated registry's key
// directories and on the directories of watched files.
//
// What counts as a change:
// - registry: a key directory created, deleted or renamed, and a key's values
//   file put in place (writers rename it in) or removed. Lock files are only
//   opened and locked, so readers wake nobody.
// - files: writes to the file or its journals, and their creation, removal
//   and renaming. Writes, not closes: SQLite opens databases for writing even
//   to read them.
// inotify does not watch a tree, so every key directory below a watched key
// gets a watch of its own, and a change has the tree scanned again for keys
// created since.

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/ChangeNotifier.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/RegistryKeys.h"

namespace pda {
namespace platform {

namespace {

const uint32_t kMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_DELETE_SELF;

class InotifyNotifier : public ChangeNotifier {
 public:
  InotifyNotifier(int inotifyFd, int wakeRead, int wakeWrite)
      : _fd(inotifyFd), _wakeRead(wakeRead), _wakeWrite(wakeWrite) {}
  ~InotifyNotifier() override {
    ::close(_fd);
    ::close(_wakeRead);
    ::close(_wakeWrite);
  }

  bool watchKey(const char* subKey) override {
    if (!subKey) return false;
    _keys.emplace_back(subKey);
    return scanKey(_keys.back());
  }

  bool watchFile(const char* path) override {
    if (!path) return false;
    const std::string text(path);
    const std::size_t slash = text.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : text.substr(0, slash);
    const int wd = ::inotify_add_watch(_fd, dir.c_str(), kMask | IN_ONLYDIR);
    if (wd < 0) return false;
    Watch& w = _watches[wd];
    w.dir = dir;
    w.files.push_back(text.substr(slash == std::string::npos ? 0 : slash + 1));
    return true;
  }

  int wait(unsigned int timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == 0xFFFFFFFFu;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
      int wait = -1;
      if (!forever) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        wait = left > 0 ? static_cast<int>(left < 0x7FFFFFFF ? left : 0x7FFFFFFF) : 0;
      }
      pollfd fds[2] = {{_wakeRead, POLLIN, 0}, {_fd, POLLIN, 0}};
      const int ready = ::poll(fds, 2, wait);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (fds[0].revents) return -1;  // left unread: the wake stays
      if (ready == 0) return 0;
      if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
      if (readEvents()) {
        for (const std::string& key : _keys) scanKey(key);
        return 1;
      }
    }
  }

  void wake() noexcept override {
    const char byte = 1;
    // A full pipe already holds a wake.
    [[maybe_unused]] const ssize_t n = ::write(_wakeWrite, &byte, 1);
  }

 private:
  struct Watch {
    std::string dir;
    bool registry = false;
    std::vector<std::string> files;  // names watched in dir
  };

  // Drains the queued events; true when one of them is a change.
  bool readEvents() {
    bool changed = false;
    alignas(inotify_event) char buffer[16 * 1024];
    while (true) {
      const ssize_t n = ::read(_fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) {
          changed = true;
          continue;
        }
        auto it = _watches.find(event->wd);
        if (it == _watches.end()) continue;
        if (event->mask & IN_IGNORED) {
          _watches.erase(it);
          continue;
        }
        const std::string name = event->len ? event->name : "";
        if (isChange(it->second, event->mask, name)) changed = true;
      }
    }
    return changed;
  }

  static bool isChange(const Watch& w, uint32_t mask, const std::string& name) {
    if (mask & IN_DELETE_SELF) return w.registry;
    for (const std::string& file : w.files)
      if (name == file || name == file + "-journal" || name == file + "-wal") return true;
    if (!w.registry) return false;
    if (mask & IN_ISDIR) return !name.empty() && name[0] != '.';
    return name == ".values" && (mask & (IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM));
  }

  // Watches the directory of the key (or of its nearest existing ancestor)
  // and every key directory below it.
  bool scanKey(const std::string& subKey) {
    std::string dir = posix::underRoot("registry/HKLM");
    std::size_t start = 0;
    while (start <= subKey.size()) {
      const std::size_t end = subKey.find('\\', start);
      const std::string name =
          subKey.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!name.empty()) {
        reg::SubKey found;
        if (!reg::findSubKey(dir, name, &found)) break;
        dir += "/" + found.fileName;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return addTree(dir, 0);
  }

  bool addTree(const std::string& dir, int depth) {
    // Deeper than any key path can go (255 characters of names).
    if (depth > 256) return true;
    const int wd = ::inotify_add_watch(_fd, dir.c_str(), kMask | IN_ONLYDIR);
    if (wd < 0) return errno == ENOENT && depth == 0 && addAncestor(dir);
    Watch& w = _watches[wd];
    w.dir = dir;
    w.registry = true;
    std::vector<reg::SubKey> subKeys;
    reg::listSubKeys(dir, &subKeys);
    for (const reg::SubKey& sub : subKeys) addTree(dir + "/" + sub.fileName, depth + 1);
    return true;
  }

  // The registry's own folders may not exist yet on a new machine: the
  // nearest existing folder above is watched (alone), and a folder made in it
  // counts as a change, after which the scan finds the keys.
  bool addAncestor(const std::string& dir) {
    std::string up = dir;
    while (true) {
      const std::size_t slash = up.rfind('/');
      if (slash == std::string::npos || slash == 0) return false;
      up.resize(slash);
      const int wd = ::inotify_add_watch(_fd, up.c_str(), kMask | IN_ONLYDIR);
      if (wd >= 0) {
        Watch& w = _watches[wd];
        w.dir = up;
        w.registry = true;
        return true;
      }
      if (errno != ENOENT) return false;
    }
  }

  int _fd;
  int _wakeRead;
  int _wakeWrite;
  std::vector<std::string> _keys;
  std::map<int, Watch> _watches;
};

}  // namespace

std::unique_ptr<ChangeNotifier> createChangeNotifier() {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return nullptr;
  int wake[2];
  if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ChangeNotifier>(new InotifyNotifier(fd, wake[0], wake[1]));
}

}  // namespace platform
}  // namespace pda
