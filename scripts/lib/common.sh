# shellcheck shell=bash
# Shared by the scripts and the shell checks; sourced, never run.
#
#   ostrelin_version        prints the project's version, from CMakeLists.txt's
#                           project() line (the one place it is written)
#   ctest_counts LOG        prints "PASSED FAILED" from ctest's summary line in
#                           LOG; fails when LOG has none
#   runner_counts NAME LOG  prints "PASSED FAILED" from the last
#                           "NAME: N passed, M failed" line in LOG; fails when
#                           LOG has none
#
# The check counter:
#   check WHAT CMD...       runs CMD: a pass is counted (and "ok: WHAT"
#                           printed when CHECKS_SAY_OK=yes), a failure counted
#                           and "FAILED: WHAT" printed
#   checks_add P F          adds P passes and F failures
#   checks_summary NAME     prints "NAME: N passed, M failed" (the line
#                           runner_counts reads) and fails when any failed
ostrelin_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

ostrelin_version() {
	sed -nE 's/^project\(ostrelin VERSION ([0-9.]+).*/\1/p' "$ostrelin_repo/CMakeLists.txt"
}

ctest_counts() {
	local line total fails
	line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" 2>/dev/null | tail -n 1)
	[ -n "$line" ] || return 1
	total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
	fails=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
	echo "$((total - fails)) $fails"
}

runner_counts() {
	local line
	line=$(grep -E "^$1: [0-9]+ passed, [0-9]+ failed\$" "$2" 2>/dev/null | tail -n 1)
	[ -n "$line" ] || return 1
	sed -E 's/.*: ([0-9]+) passed, ([0-9]+) failed$/\1 \2/' <<<"$line"
}

checks_passed=0
checks_failed=0
check() {
	local what=$1
	shift
	if "$@"; then
		checks_passed=$((checks_passed + 1))
		[ "${CHECKS_SAY_OK:-}" != yes ] || echo "ok: $what"
	else
		echo "FAILED: $what"
		checks_failed=$((checks_failed + 1))
	fi
}
checks_add() {
	checks_passed=$((checks_passed + $1))
	checks_failed=$((checks_failed + $2))
}
checks_summary() {
	echo "$1: $checks_passed passed, $checks_failed failed"
	[ "$checks_failed" -eq 0 ]
}

# The decoders or the parsers (KIND: decoder | parser) that a notice written
# by scripts/write-notice.sh lists, one a line, sorted; nothing, and false,
# unless they are exactly the ones its FFmpeg configure line enables.
notice_ffmpeg_parts() {
	local notice=$1 kind=$2 listed configured
	listed=$(sed -nE "s/^FFmpeg's ${kind}s inside: //p" "$notice" | sed 's/, /\n/g' | sort)
	configured=$(grep -E '^  \./configure ' "$notice" | grep -oE -- "--enable-$kind=[^ ]+" | cut -d= -f2 |
		tr , '\n' | sort)
	[ -n "$listed" ] && [ "$listed" = "$configured" ] && echo "$listed"
}
# True when that notice lists its configure line's decoders and parsers, and
# H.265's decoder and parser are among them.
notice_lists_hevc() {
	notice_ffmpeg_parts "$1" decoder | grep -qx hevc && notice_ffmpeg_parts "$1" parser | grep -qx hevc
}
