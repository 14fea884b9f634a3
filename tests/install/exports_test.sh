#!/usr/bin/env bash
# What the shared library exports (nm -D --defined-only): only the classes and
# functions that the public headers declare PDA_API, and the stand-in's
# pda-prefixed C functions; and every class's copy constructor, copy
# assignment and destructor where its header declares them.
#
# Usage: exports_test.sh LIBRARY INCLUDE_DIR
set -euo pipefail
lib=$1 include=$2
fail() { echo "exports test: $*" >&2; exit 1; }

classes=$(grep -rhoE '(class|struct) PDA_API [A-Za-z_]+' "$include/pda" | awk '{print $3}' | sort -u)
functions=$(grep -rhE '^PDA_API [^(]*[ *][a-z][A-Za-z_]*\(' "$include/pda" |
  sed -E 's/^[^(]*[ *]([a-z][A-Za-z_]*)\(.*/\1/' | grep -v '^pda' | sort -u || true)
[ -n "$classes" ] || fail "no PDA_API class found under $include/pda"

symbols=$(nm -D --defined-only "$lib" | awk 'NF == 3 && $2 != "A" {print $3}')
[ -n "$symbols" ] || fail "$lib exports nothing"
classAlt=$(echo "$classes" | paste -sd'|')
funcAlt=$(echo "$functions" | paste -sd'|')
allowed="^((typeinfo|typeinfo name|vtable) for )?($classAlt)(::|\$)"
[ -n "$funcAlt" ] && allowed="$allowed|^($funcAlt)\\("

stray=""
while read -r sym; do
  case "$sym" in
    _Z*) ;;
    pda*) continue ;;
    *) stray+="  $sym"$'\n'; continue ;;
  esac
  name=$(echo "$sym" | c++filt)
  [[ "$name" =~ $allowed ]] || stray+="  $name"$'\n'
done <<<"$symbols"
[ -z "$stray" ] || fail "exports names outside the public interface:"$'\n'"$stray"

demangled=$(echo "$symbols" | c++filt)
missing=""
for c in $classes; do
  header=$(grep -rlE "(class|struct) PDA_API $c\b" "$include/pda" | head -n1)
  if grep -qE "^\s*(explicit )?$c\(const $c&[^)]*\)" "$header" &&
    ! grep -qE "^\s*$c\(const $c&[^)]*\) *= *delete" "$header"; then
    grep -qxF "$c::$c($c const&)" <<<"$demangled" || missing+="  $c::$c($c const&)"$'\n'
    grep -qxF "$c::operator=($c const&)" <<<"$demangled" || missing+="  $c::operator=($c const&)"$'\n'
  fi
  if grep -qE "~$c\(\)" "$header"; then
    grep -qxF "$c::~$c()" <<<"$demangled" || missing+="  $c::~$c()"$'\n'
  fi
done
[ -z "$missing" ] || fail "does not export:"$'\n'"$missing"
echo "exports test: $(echo "$symbols" | wc -l) symbols, $(echo "$classes" | wc -w) classes, passed"
