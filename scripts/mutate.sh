#!/usr/bin/env bash
# The mutation run: puts one small fault at a time into src/ (the blocks of
# scripts/mutations/*.list), builds the release build and runs the release
# tests (all but the OBS GUI test) against it, and reports which test caught
# each fault, or that none did.
#
#   scripts/mutate.sh [options] [FILTER...]
#
# FILTER: mutation ids, unit names (a list's name: adb-client), or paths
# (src/adb/adb-client.cpp, src/receive); none: every mutation.
#   --check      only check the lists against the code, run nothing
#   --list       print the selected mutations and stop
#   --no-baseline  skip the run of the tests on the unmutated code
#
# The code is the current HEAD (commit first); the lists are read from the
# working tree. Scratch space (a git worktree and its build folder, kept
# between runs so builds are incremental): build/mutate/, or $MUTATE_DIR.
# Results: build/mutate/results.tsv, one log per mutation in build/mutate/logs/.
# MUTATE_JOBS: tests run at once (default 4: most of their time is waiting).
# Exit status: 0 when every fault was caught or is marked equivalent; 1 when
# some survived or did not build, or the tests fail on the unmutated code;
# 2 for an error of the lists.
set -u -o pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
helper="$root/scripts/mutate-list.py"
work=${MUTATE_DIR:-$root/build/mutate}
tree="$work/wt"
build="$work/build"
logs="$work/logs"
jobs=${MUTATE_JOBS:-4}

check_only=0
list_only=0
baseline=1
filters=()
for arg in "$@"; do
	case "$arg" in
	--check) check_only=1 ;;
	--list) list_only=1 ;;
	--no-baseline) baseline=0 ;;
	-h | --help)
		awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
		exit 0
		;;
	-*)
		echo "mutate.sh: unknown option $arg" >&2
		exit 2
		;;
	*) filters+=("$arg") ;;
	esac
done

if [ "$(id -u)" != 0 ] && [ "$check_only$list_only" = 00 ]; then
	echo "mutate.sh: the tests run in a network namespace of their own (unshare -n): run as root" >&2
	exit 2
fi

commit=$(git -C "$root" rev-parse HEAD) || exit 2
mkdir -p "$work" "$logs"

# The scratch worktree, at HEAD and clean.
if [ ! -e "$tree/.git" ]; then
	rm -rf "$tree"
	git -C "$root" worktree prune
	git -C "$root" worktree add --detach "$tree" "$commit" >/dev/null || exit 2
fi
reset_tree() {
	git -C "$tree" checkout -q --detach -f "$commit" && git -C "$tree" reset -q --hard "$commit" &&
		git -C "$tree" clean -qfdx
}
reset_tree || exit 2

selection=$(python3 "$helper" select "$root" "$tree" ${filters[@]+"${filters[@]}"}) || exit 2
if [ "$check_only" = 1 ]; then
	echo "mutation lists: $(printf '%s\n' "$selection" | grep -c .) mutations, all apply to $(git -C "$root" log -1 --format=%h)"
	exit 0
fi
if [ "$list_only" = 1 ]; then
	printf '%s\n' "$selection"
	exit 0
fi

# Built with warnings kept as warnings: an unused variable left by a fault
# would otherwise stop the build, and a build stopped is no test catching it.
# A mutant that does not compile at all is reported as "does not build".
configure() {
	local dir
	dir=$(realpath -m "$build")
	(cd "$tree" && nice -n 10 cmake --preset mutate -B "$dir") >"$logs/configure.log" 2>&1
}
build_tree() {
	nice -n 10 cmake --build "$build" -j2 </dev/null
}
ctest_in_namespace() {
	nice -n 10 unshare -n sh -c 'ip link set lo up && exec ctest --test-dir "$0" --output-on-failure "$@"' "$build" "$@" </dev/null
}
first_failed() {
	local failed
	failed=$(sed -n 's/^ *[0-9]*\/[0-9]* *Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*/\1/p' "$1" | head -1)
	[ -n "$failed" ] || failed=$(sed -n 's/^ *[0-9]* - \([^ ]*\) .*/\1/p' "$1" | head -1)
	echo "$failed"
}
# Prints the first failed test's name; status 0 when every test passed. A
# test fails a mutant only when it fails again when run alone: one that then
# passes (a timing test on a busy machine) is left out of a second run of
# the suite. Status 3: undecided, tests failed twice yet passed alone.
run_tests() {
	local out=$1 status failed exclude="" name_re
	for _ in 1 2; do
		# Without the times of earlier runs ctest starts the tests in their
		# order of declaration, the quick checks of the plain logic first.
		rm -f "$build/Testing/Temporary/CTestCostData.txt"
		ctest_in_namespace -LE real-obs --stop-on-failure --no-tests=error -j "$jobs" \
			${exclude:+-E "$exclude"} >"$out.run" 2>&1
		status=$?
		cat "$out.run" >>"$out"
		[ $status != 0 ] || return 0
		failed=$(first_failed "$out.run")
		[ -n "$failed" ] || {
			echo "ctest status $status"
			return $status
		}
		name_re="^$(printf '%s' "$failed" | sed 's/[][\.*^$+?(){}|]/\\&/g')\$"
		echo "== $failed again, alone" >>"$out"
		if ! ctest_in_namespace -R "$name_re" --no-tests=error >>"$out" 2>&1; then
			echo "$failed"
			return 1
		fi
		echo "== $failed passed alone: the suite again without it" >>"$out"
		exclude="${exclude:+$exclude|}$name_re"
	done
	echo "$failed (failed in the suite twice, passed alone)"
	return 3
}

elapsed() {
	local s=$1
	printf '%dm%02ds' $((s / 60)) $((s % 60))
}

start=$(date +%s)
configure || {
	echo "mutate.sh: cmake could not configure the scratch build: $logs/configure.log" >&2
	exit 1
}

if [ "$baseline" = 1 ]; then
	t0=$(date +%s)
	if ! build_tree >"$logs/baseline-build.log" 2>&1; then
		echo "mutate.sh: the unmutated code does not build: $logs/baseline-build.log" >&2
		exit 1
	fi
	if ! failed=$(run_tests "$logs/baseline-test.log"); then
		echo "mutate.sh: the tests fail on the unmutated code ($failed): $logs/baseline-test.log" >&2
		exit 1
	fi
	echo "baseline: the unmutated code passes ($(elapsed $(($(date +%s) - t0))))"
fi

results="$work/results.tsv"
printf 'id\tunit\toutcome\ttest\tseconds\n' >"$results"
total=0 killed=0 survived=0 equivalent=0 unbuilt=0 marked_killed=0 undecided=0
survivors=() unbuilt_ids=() undecided_ids=()
while IFS=$'\t' read -r id path unit marked; do
	[ -n "$id" ] || continue
	total=$((total + 1))
	t0=$(date +%s)
	log="$logs/$id.log"
	reset_tree || exit 2
	python3 "$helper" apply "$root" "$tree" "$id" || exit 2
	test_name=""
	survived_or_equivalent=0
	: >"$log.test"
	if ! build_tree >"$log" 2>&1; then
		outcome="does-not-build"
		unbuilt=$((unbuilt + 1))
		unbuilt_ids+=("$id")
	elif test_name=$(run_tests "$log.test"); then
		survived_or_equivalent=1
	elif [ $? = 3 ]; then
		outcome="undecided"
		undecided=$((undecided + 1))
		undecided_ids+=("$id")
		survived_or_equivalent=0
	else
		survived_or_equivalent=0
		outcome="killed"
		killed=$((killed + 1))
		if [ "$marked" = 1 ]; then
			outcome="killed (marked equivalent)"
			marked_killed=$((marked_killed + 1))
		fi
	fi
	if [ "$survived_or_equivalent" = 1 ]; then
		if [ "$marked" = 1 ]; then
			outcome="equivalent"
			equivalent=$((equivalent + 1))
		else
			outcome="SURVIVED"
			survived=$((survived + 1))
			survivors+=("$id")
		fi
	fi
	secs=$(($(date +%s) - t0))
	printf '%s\t%s\t%s\t%s\t%s\n' "$id" "$unit" "$outcome" "$test_name" "$secs" >>"$results"
	printf '%-28s %-22s %-14s %s (%s)\n' "$id" "$path" "$outcome" "$test_name" "$(elapsed $secs)"
done <<<"$selection"
reset_tree

secs=$(($(date +%s) - start))
built=$((total - unbuilt))
echo
echo "mutations: $total, built: $built, killed: $killed, survived: $((survived + equivalent))" \
	"(marked equivalent: $equivalent), do not build: $unbuilt, undecided: $undecided"
# The rate leaves out the faults marked equivalent: no test can catch them.
counted=$((built - equivalent))
if [ "$counted" -gt 0 ]; then
	echo "kill rate: $(awk -v k=$killed -v n=$counted 'BEGIN { printf "%.1f", 100 * k / n }') %" \
		"($killed of the $counted that build and are not marked equivalent;" \
		"$(awk -v k=$killed -v n=$total 'BEGIN { printf "%.1f", 100 * k / n }') % of all $total)"
fi
echo "time: $(elapsed $secs) ($(elapsed $((total ? secs / total : 0))) a mutation)"
[ ${#survivors[@]} = 0 ] || echo "survivors not marked equivalent: ${survivors[*]}"
[ ${#unbuilt_ids[@]} = 0 ] || echo "do not build (fix the list): ${unbuilt_ids[*]}"
[ ${#undecided_ids[@]} = 0 ] || echo "undecided (a test failed in the suite twice but passed alone): ${undecided_ids[*]}"
[ "$marked_killed" = 0 ] || echo "killed although marked equivalent: $marked_killed (drop the mark)"
echo "details: $results, logs in $logs/"
[ "$survived" = 0 ] && [ "$unbuilt" = 0 ] && [ "$undecided" = 0 ]
