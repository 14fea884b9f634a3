#!/usr/bin/env bash
# Builds the Debian package of the build with cpack and checks what it holds:
# its name, version and dependencies, the library with its soname link, the
# headers and package files, the tool, the suite's SQLite link and the
# ldconfig trigger; then checks that the unpacked pkg-config file points into
# the unpacked tree.
#
# Usage: debian_package_test.sh BUILD_DIR VERSION WITH_TOOL
set -euo pipefail
build=$1 version=$2 with_tool=$3

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pda-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$tmp"/out/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = persisted-data-access ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
[[ ",$depends," =~ ,\ ?libsqlite3-0[\ ,] ]] || fail "Depends lacks libsqlite3-0: $depends"
# ldconfig runs on installation: through a trigger or the maintainer scripts.
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
if ! grep -qx './triggers' <<<"$control"; then
  grep -qx './postinst' <<<"$control" && dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst | grep -q ldconfig ||
    fail "ldconfig does not run on installation"
fi
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./shlibs | grep -q "^libPersistedDataAccess ${version%%.*} persisted-data-access" ||
  fail "no shlibs entry for the library"

dpkg-deb -x "$deb" "$tmp/root"
root=$tmp/root
lib=$(find "$root" -name "libPersistedDataAccess.so.${version%%.*}")
[ -n "$lib" ] && [ -L "$lib" ] && [ -f "$lib" ] || fail "no soname link to the library"
for f in usr/include/PersistedDataAccess.h usr/include/pda/Version.h; do
  [ -f "$root/$f" ] || fail "$f missing"
done
if [ "$with_tool" = 1 ]; then
  [ -x "$root/usr/bin/pda" ] || fail "usr/bin/pda missing"
fi
libdir=$(dirname "$lib")
[ -f "$libdir/cmake/PersistedDataAccess/PersistedDataAccessConfig.cmake" ] || fail "no CMake package"

# The link points at the path where Debian's libsqlite3-0 puts the library.
dll=$libdir/persisted-data-access/bin/SQLite.Interop.dll
[ -L "$dll" ] || fail "no SQLite.Interop.dll link"
target=$(readlink "$dll")
case "$target" in /usr/lib/*/libsqlite3.so.0 | /usr/lib/libsqlite3.so.0) ;; *) fail "SQLite.Interop.dll -> $target" ;; esac
dpkg -S "$target" 2>/dev/null | grep -q '^libsqlite3-0' || fail "$target is not libsqlite3-0's"

export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(realpath "$(pkg-config --variable=includedir PersistedDataAccess)")" = "$(realpath "$root/usr/include")" ] ||
  fail "pkg-config includedir is $(pkg-config --variable=includedir PersistedDataAccess)"
echo "package test: passed ($(basename "$deb"), Depends: $depends)"
