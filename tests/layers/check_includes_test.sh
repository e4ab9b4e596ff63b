#!/usr/bin/env bash
# scripts/check-includes on small generated trees of three floors (low, high, and high/sub above
# high): an include of a higher floor fails the check whether written with quotes or angle
# brackets, also from a directory into its own subdirectory floor, and so does an include of a
# directory that is no floor; includes of the own floor and of lower floors pass. Then the real
# tree passes. Usage: check_includes_test.sh <check-includes> <source root>
set -euo pipefail
check=$1
source_root=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
case_no=0
# expect <pass|fail> <file> <line of the file>
expect() {
  local want=$1 file=$2 text=$3 tree
  case_no=$((case_no + 1))
  tree=$work/$case_no
  mkdir -p "$tree/cmake" "$tree/low" "$tree/high/sub" "$tree/tests"
  printf '%s\n' '# lowest first' 'low       # the bottom' 'high      # above low' \
    'high/sub  # above high' >"$tree/cmake/layers.txt"
  for h in low/a.h high/b.h high/sub/c.h tests/t.h; do echo '#pragma once' >"$tree/$h"; done
  printf '%s\n' "$text" >"$tree/$file"
  local got=pass
  "$check" "$tree" 2>/dev/null || got=fail
  if [[ $got != "$want" ]]; then
    echo "case $case_no: $file with '$text' should $want, did $got" >&2
    failures=$((failures + 1))
  fi
}

expect fail low/a.cpp '#include "high/b.h"'
expect fail low/a.cpp '#include <high/b.h>'
expect fail low/a.h '  #  include <high/sub/c.h>  // indented and spaced'
expect fail high/b.cpp '#include "high/sub/c.h"'
expect fail low/a.cpp '#include "tests/t.h"'
expect pass high/b.cpp '#include "low/a.h"'
expect pass high/sub/c.cpp '#include <high/b.h>'
expect pass low/a.cpp '#include "low/a.h"'
expect pass low/a.cpp '#include <cmath>'

if ! "$check" "$source_root"; then
  echo "the source tree breaks its floors" >&2
  failures=$((failures + 1))
fi
exit $((failures > 0))
