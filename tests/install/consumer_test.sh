#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the installed tree
# elsewhere (nothing may point back at the old place), then builds the
# consumer program against it through the CMake package and through
# pkg-config, and runs both on a fresh emulated machine.
#
# Usage: consumer_test.sh BUILD_DIR VERSION CXX "CXX_FLAGS" "LINKER_FLAGS" WITH_TOOL
set -euo pipefail
build=$1 version=$2 cxx=$3 cxxflags=$4 ldflags=$5 with_tool=$6
here=$(cd "$(dirname "$0")" && pwd)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pda-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/staged" >"$tmp/install.log" ||
  { cat "$tmp/install.log" >&2; fail "cmake --install failed"; }
mv "$tmp/staged" "$tmp/prefix"
prefix=$tmp/prefix

# The installed tree: headers, the library with its soname, the package
# files and the suite's SQLite link.
libdir=$(dirname "$(find "$prefix" -name 'libPersistedDataAccess.so' | head -n1)")
[ -d "$libdir" ] || fail "no libPersistedDataAccess.so installed"
for f in include/PersistedDataAccess.h include/pda/Version.h include/pda/Export.h; do
  [ -f "$prefix/$f" ] || fail "$f not installed"
done
grep -q "\"$version\"" "$prefix/include/pda/Version.h" || fail "Version.h does not say $version"
if find "$prefix/include" -name '*.h' | xargs grep -l '#include "\(core\|stores\|platform\)/' | grep -c . >/dev/null; then
  fail "an installed header includes a private header"
fi
# Every installed header compiles on its own (the umbrella may list them in any order).
for h in "$prefix"/include/PersistedDataAccess.h "$prefix"/include/pda/*.h; do
  echo "#include \"${h#"$prefix/include/"}\"" |
    "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" -x c++ - ||
    fail "${h#"$prefix/"} does not compile on its own"
done
# The umbrella header defines no macro but its own (PDA_...): every other
# macro it brings comes from the standard headers it includes.
std_includes=$(grep -h '^#include <' "$prefix"/include/PersistedDataAccess.h "$prefix"/include/pda/*.h |
  grep -v '<pda/\|<windows.h>' | sort -u)
macros() { "$cxx" -std=c++17 -dM -E -I"$prefix/include" -x c++ - | awk '{print $2}' | sed 's/(.*//' | sort -u; }
own=$(comm -13 <(echo "$std_includes" | macros) <(echo '#include <PersistedDataAccess.h>' | macros) |
  grep -v '^PDA_' || true)
[ -z "$own" ] || fail "PersistedDataAccess.h defines macros without the PDA_ prefix: $(echo $own)"
soname=$(readelf -d "$libdir/libPersistedDataAccess.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libPersistedDataAccess.so.${version%%.*}" ] || fail "soname is '$soname'"
[ -L "$libdir/$soname" ] && [ -f "$libdir/$soname" ] || fail "$soname is not a link to the library"
[ -f "$libdir/cmake/PersistedDataAccess/PersistedDataAccessConfigVersion.cmake" ] ||
  fail "no CMake package version file"
dll=$libdir/persisted-data-access/bin/SQLite.Interop.dll
[ -L "$dll" ] || fail "no SQLite.Interop.dll link"
case "$(readlink "$dll")" in */libsqlite3.so.0) ;; *) fail "SQLite.Interop.dll points at $(readlink "$dll")" ;; esac
[ -e "$dll" ] || fail "SQLite.Interop.dll is a broken link"

if [ "$with_tool" = 1 ]; then
  # The installed tool finds the installed library by itself.
  out=$(env -u LD_LIBRARY_PATH PDA_ROOT="$tmp/tool-machine" "$prefix/bin/pda" --version) ||
    fail "installed pda does not run"
  [[ "$out" == *"$version"* ]] || fail "pda --version said '$out'"
fi

# Through the CMake package.
cmake -S "$here/consumer" -B "$tmp/cmake-build" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DPDA_EXPECTED_VERSION="$version" -DPDA_EXPECTED_PREFIX="$prefix" >"$tmp/cmake.log" 2>&1 ||
  { cat "$tmp/cmake.log" >&2; fail "find_package(PersistedDataAccess) failed"; }
cmake --build "$tmp/cmake-build" >"$tmp/build.log" 2>&1 ||
  { cat "$tmp/build.log" >&2; fail "the CMake consumer does not build"; }
LD_LIBRARY_PATH="$libdir" PDA_ROOT="$tmp/machine-cmake" "$tmp/cmake-build/consumer" "$libdir" ||
  fail "the CMake consumer failed"

# Through pkg-config.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion PersistedDataAccess)" = "$version" ] || fail "pkg-config version"
[ "$(realpath "$(pkg-config --variable=prefix PersistedDataAccess)")" = "$(realpath "$prefix")" ] ||
  fail "pkg-config prefix is $(pkg-config --variable=prefix PersistedDataAccess)"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 -Wall -Wextra -Werror $cxxflags "$here/consumer/consumer.cpp" \
  $(pkg-config --cflags --libs PersistedDataAccess) $ldflags -o "$tmp/consumer-pc" ||
  fail "the pkg-config consumer does not build"
LD_LIBRARY_PATH="$libdir" PDA_ROOT="$tmp/machine-pc" "$tmp/consumer-pc" "$libdir" ||
  fail "the pkg-config consumer failed"
# A program with its own DELETE, TRUE, ERROR_SUCCESS, DWORD, ... builds.
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 -Wall -Wextra -Werror $cxxflags "$here/consumer/own_names.cpp" \
  $(pkg-config --cflags --libs PersistedDataAccess) $ldflags -o "$tmp/own-names" ||
  fail "a program with its own Win32-like names does not build"
echo "install test: passed"
