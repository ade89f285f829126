# Counting checks in a shell test; sourced.
#
#   check WHAT CMD...   runs CMD: a pass is counted (and "ok: WHAT" printed
#                       when CHECKS_SAY_OK=yes), a failure counted and
#                       "FAILED: WHAT" printed
#   checks_summary NAME prints "NAME: N passed, M failed" (the line
#                       scripts/test.sh counts) and fails when any failed
passed=0
failed=0
check() {
	local what=$1
	shift
	if "$@"; then
		passed=$((passed + 1))
		[ "${CHECKS_SAY_OK:-}" != yes ] || echo "ok: $what"
	else
		echo "FAILED: $what"
		failed=$((failed + 1))
	fi
}
checks_summary() {
	echo "$1: $passed passed, $failed failed"
	[ "$failed" -eq 0 ]
}
