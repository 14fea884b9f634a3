#!/usr/bin/env bash
# scripts/check-includes (run by scripts/lint) passes on the tree and fails on
# a copy of it with one include planted against the direction, for each kind
# of wrong include. Usage: include_direction_test.sh SOURCE_DIR
set -euo pipefail
src=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/pda-includes.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "include direction test: $*" >&2; exit 1; }

python3 "$src/scripts/check-includes" "$src" >/dev/null || fail "the tree itself does not pass"

# file to plant in | include planted
while IFS='|' read -r file include; do
  rm -rf "$tmp/tree" && mkdir "$tmp/tree"
  cp -r "$src/src" "$src/include" "$src/tools" "$tmp/tree/"
  echo "#include \"$include\"" >>"$tmp/tree/$file"
  if python3 "$src/scripts/check-includes" "$tmp/tree" >"$tmp/out" 2>&1; then
    fail "$file including $include passed"
  fi
  grep -q "^$file:" "$tmp/out" || fail "$file including $include failed without naming it"
done <<'PLANTS'
src/platform/posix/entry.cpp|pda/KestSQLite.h
src/platform/posix/Kernel.cpp|core/OnceGuard.h
src/base/Text.cpp|platform/platform.h
src/core/IKestBase.cpp|stores/KestRegistryKeys.h
src/stores/KestRegistry.cpp|pda/KestInfo.h
src/records/KestInfo.cpp|analytics/SQLiteVISAUsageStorage.h
src/analytics/VISAUsageStorage.cpp|pda/BasaltDataEngine.h
include/pda/IKestBase.h|pda/KestRecord.h
tools/pda/main.cpp|core/Paths.h
PLANTS
echo "include direction test: passed"
