#!/usr/bin/env bash
# Builds the Debian packages of the build with cpack and checks them as Debian
# would ship a library: the run-time package (the library in the multiarch
# directory with its soname link, the suite's SQLite link, the ldconfig
# trigger and a shlibs entry), the -dev package (headers, unversioned link,
# CMake package, pkg-config file) and the tool package; a copyright file in
# each; lintian reports no error (when lintian is installed). Then unpacks all
# three into a fresh root and runs the tool from there on a fresh machine.
#
# Usage: debian_package_test.sh BUILD_DIR VERSION WITH_TOOL
set -euo pipefail
build=$1 version=$2 with_tool=$3
major=${version%%.*}
runtime=libpersisteddataaccess$major dev=libpersisteddataaccess-dev tools=persisted-data-access-tools

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pda-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB failed"; }
expected=("$runtime" "$dev")
[ "$with_tool" = 1 ] && expected+=("$tools")
declare -A deb=()
for f in "$tmp"/out/*.deb; do deb[$(dpkg-deb -f "$f" Package)]=$f; done
[ ${#deb[@]} = ${#expected[@]} ] || fail "expected ${expected[*]}, got: ${!deb[*]}"
for p in "${expected[@]}"; do
  [ -n "${deb[$p]:-}" ] || fail "no package $p (got: ${!deb[*]})"
  [ "$(dpkg-deb -f "${deb[$p]}" Version)" = "$version" ] || fail "$p version"
  # (grep reads whole inputs throughout: grep -q ends early, and under
  # pipefail the writer's broken pipe would fail the check now and then.)
  dpkg-deb -c "${deb[$p]}" | grep -c " ./usr/share/doc/$p/copyright$" >/dev/null ||
    fail "$p has no copyright file"
done

depends=$(dpkg-deb -f "${deb[$runtime]}" Depends)
[[ ",$depends," =~ ,\ ?libsqlite3-0[\ ,] ]] || fail "$runtime Depends lacks libsqlite3-0: $depends"
[[ "$(dpkg-deb -f "${deb[$dev]}" Depends)" == *"$runtime (= $version)"* ]] ||
  fail "$dev does not depend on $runtime (= $version)"
control=$(dpkg-deb --ctrl-tarfile "${deb[$runtime]}" | tar -t)
grep -qx './triggers' <<<"$control" &&
  dpkg-deb --ctrl-tarfile "${deb[$runtime]}" | tar -xO ./triggers | grep -cx 'activate-noawait ldconfig' >/dev/null ||
  fail "$runtime has no ldconfig trigger"
dpkg-deb --ctrl-tarfile "${deb[$runtime]}" | tar -xO ./shlibs | grep -c "^libPersistedDataAccess $major $runtime" >/dev/null ||
  fail "no shlibs entry for the library"

# What goes where: nothing but the run-time files in the run-time package.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
libdir=usr/lib/$multiarch
dpkg-deb -c "${deb[$runtime]}" | awk '{print $6}' | grep -v '/$' | grep -v "^./usr/share/doc/$runtime/" |
  grep -v "^./$libdir/libPersistedDataAccess.so.$major\(\.[0-9.]*\)\?$" |
  grep -v "^./$libdir/persisted-data-access/bin/SQLite.Interop.dll$" >"$tmp/stray" || true
[ ! -s "$tmp/stray" ] || fail "$runtime holds more than the run-time files: $(cat "$tmp/stray")"

if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "${deb[@]}" >"$tmp/lintian.log" 2>&1 || true
  if grep -q '^E: ' "$tmp/lintian.log"; then
    grep '^E: ' "$tmp/lintian.log" >&2
    fail "lintian reports errors"
  fi
else
  echo "package test: lintian is not installed; its check was not run"
fi

# A fresh root with the three packages unpacked.
root=$tmp/root
for p in "${expected[@]}"; do dpkg-deb -x "${deb[$p]}" "$root"; done
lib=$root/$libdir/libPersistedDataAccess.so.$major
[ -L "$lib" ] && [ -f "$lib" ] || fail "no soname link $libdir/libPersistedDataAccess.so.$major"
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libPersistedDataAccess.so.$major" ] || fail "soname is '$soname'"
for f in usr/include/PersistedDataAccess.h usr/include/pda/Version.h usr/include/pda/Win32.h \
  "$libdir/cmake/PersistedDataAccess/PersistedDataAccessConfig.cmake" \
  "$libdir/pkgconfig/PersistedDataAccess.pc"; do
  [ -f "$root/$f" ] || fail "$f missing"
done
# The link points at the path where Debian's libsqlite3-0 puts the library.
dll=$root/$libdir/persisted-data-access/bin/SQLite.Interop.dll
[ -L "$dll" ] || fail "no SQLite.Interop.dll link"
target=$(readlink "$dll")
case "$target" in /usr/lib/*/libsqlite3.so.0 | /usr/lib/libsqlite3.so.0) ;; *) fail "SQLite.Interop.dll -> $target" ;; esac
dpkg -S "$target" 2>/dev/null | grep -c '^libsqlite3-0' >/dev/null || fail "$target is not libsqlite3-0's"

export PKG_CONFIG_PATH=$root/$libdir/pkgconfig
[ "$(realpath "$(pkg-config --variable=includedir PersistedDataAccess)")" = "$(realpath "$root/usr/include")" ] ||
  fail "pkg-config includedir is $(pkg-config --variable=includedir PersistedDataAccess)"

if [ "$with_tool" = 1 ]; then
  pda=$root/usr/bin/pda
  [ -x "$pda" ] || fail "usr/bin/pda missing"
  ! readelf -d "$pda" | grep -c 'R\(UN\)\?PATH' >/dev/null || fail "the packaged pda carries a run path"
  # The real-machine steps on a fresh machine, with the unpacked library.
  export LD_LIBRARY_PATH=$root/$libdir PDA_ROOT=$tmp/machine
  "$pda" init >"$tmp/init.log" 2>&1 || { cat "$tmp/init.log" >&2; fail "pda init failed"; }
  "$pda" show >"$tmp/show.log" 2>&1 || { cat "$tmp/show.log" >&2; fail "pda show failed"; }
  grep -q 'SQLiteDataSource' "$tmp/show.log" || fail "pda show does not use the SQLite store"
  "$pda" set IOControlHidden true >/dev/null && [ "$("$pda" get IOControlHidden)" = true ] ||
    fail "pda set/get through the unpacked packages failed"
  # The README's real-machine step: the packaged base directory registered
  # as it is, its SQLite.Interop.dll the system's SQLite.
  export PDA_ROOT=$tmp/real-machine
  "$pda" init --base-dir "$root/$libdir/persisted-data-access/" >"$tmp/init2.log" 2>&1 ||
    { cat "$tmp/init2.log" >&2; fail "pda init --base-dir failed"; }
  "$pda" show | grep -c 'SQLiteDataSource' >/dev/null || fail "pda show after init --base-dir: no SQLite store"
  "$pda" set IOControlHidden true >/dev/null && [ "$("$pda" get IOControlHidden)" = true ] ||
    fail "pda set/get after init --base-dir failed"
  "$pda" doctor >"$tmp/doctor.log" 2>&1 || { cat "$tmp/doctor.log" >&2; fail "pda doctor failed"; }
fi
echo "package test: passed (${!deb[*]})"
