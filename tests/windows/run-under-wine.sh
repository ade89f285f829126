#!/usr/bin/env bash
# Runs every test program of a Windows test build (tests/windows) under Wine
# and counts GoogleTest's cases. Wine's prefix is made inside the build folder
# on the first run (about 15 s), without a display and without questions.
# The last line reads "wine: N passed, M failed"; exit 1 when any failed.
#   run-under-wine.sh <windows test build folder>
set -uo pipefail
build=$(cd "$1" && pwd)

. "$(dirname "$0")/wine-env.sh" "$build" server
. "$(dirname "$0")/../../scripts/lib/common.sh"

for exe in "$build"/test-*.exe; do
	name=$(basename "$exe" .exe)
	log="$build/$name.log"
	timeout 600 wine "$exe" </dev/null >"$log" 2>&1
	code=$?
	ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -n 1)
	bad=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:.*/\1/p' "$log" | tail -n 1)
	ok=${ok:-0}
	bad=${bad:-0}
	if [ "$code" -ne 0 ] && [ "$bad" -eq 0 ]; then
		bad=1 # it ended before GoogleTest could count (a crash or the time limit)
	fi
	checks_add "$ok" "$bad"
	echo "$name (Wine): $ok passed, $bad failed"
	if [ "$bad" -ne 0 ]; then
		grep -E '^\[  FAILED  \]|Failure|Expected|Which is|^wine:' "$log" | head -n 40
	fi
done
checks_summary wine
