// A program whose own names are the ones the Win32 headers take: the public
// headers must leave them alone (the Win32 subset is opt-in, pda/Win32.h).
#include <PersistedDataAccess.h>

enum class HttpVerb { GET, PUT, DELETE };
constexpr bool TRUE = true;
constexpr bool FALSE = false;
constexpr int ERROR_SUCCESS = 0;
constexpr int KEY_READ = 1;
constexpr int REG_SZ = 1;
constexpr int SYNCHRONIZE = 2;
struct DWORD {
  unsigned value;
};
using BYTE = char;
using BOOL = bool;
using HANDLE = int;
using LONG = long long;

int main() {
  KestInfo info(DeviceIoDataSource);
  const DWORD d{static_cast<unsigned>(info.getGpib32Status() + ERROR_SUCCESS)};
  return HttpVerb::DELETE == HttpVerb::GET || (TRUE && !FALSE && d.value == 12345u) ? 1 : 0;
}
