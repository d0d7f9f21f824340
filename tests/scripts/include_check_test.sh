#!/bin/sh
# The include check on a small tree of its own: an include that points up, a third-party
# header and an unknown room must each fail with file and line; a tree that points down
# passes. Usage: include_check_test.sh <path of scripts/check-includes>
check=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/kestrix/foundation" "$work/kestrix/documents" "$work/kestrix/api"
printf '#pragma once\n' > "$work/kestrix/foundation/a.h"
printf '#include "kestrix/foundation/a.h"\n#include <string>\n' > "$work/kestrix/documents/b.cpp"
printf '#include "kestrix/documents/b.h"\n' > "$work/kestrix/api/c.cpp"
"$check" "$work" > "$work/out" 2>&1 || { cat "$work/out"; fail "a tree that points down was refused"; }

printf '#pragma once\n#include <vector>\n#include "kestrix/documents/b.h"\n' > "$work/kestrix/foundation/a.h"
printf '#include "kestrix/foundation/a.h"\n#  include <libxml/tree.h>\n#include <sqlite3.h>\n#include <freexl.h>\n' \
    > "$work/kestrix/documents/b.cpp"
mkdir -p "$work/kestrix/attic" && printf '#include <string>\n' > "$work/kestrix/attic/d.cpp"
if "$check" "$work" > "$work/out" 2>&1; then cat "$work/out"; fail "faulty includes passed"; fi
grep -q '^kestrix/foundation/a.h:3: .*kestrix/documents/b.h' "$work/out" || fail "upward include not named"
grep -q '^kestrix/documents/b.cpp:2: .*libxml/tree.h' "$work/out" || fail "libxml include not named"
grep -q '^kestrix/documents/b.cpp:3: .*sqlite3.h' "$work/out" || fail "sqlite3.h include not named"
grep -q '^kestrix/documents/b.cpp:4: .*freexl.h' "$work/out" || fail "freexl.h include not named"
grep -q "kestrix/attic/d.cpp: the room 'attic'" "$work/out" || fail "unknown room not named"
[ "$(wc -l < "$work/out")" -eq 5 ] || { cat "$work/out"; fail "unexpected findings"; }
echo "include check: all cases as expected"
