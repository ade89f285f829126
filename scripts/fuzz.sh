#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build/fuzz) and runs each for a fixed time,
# one after another, from its committed seeds in tests/fuzz/corpus/<target>/.
# Inputs found along the way go to build/fuzz/corpus/<target>/, a crashing
# input to build/fuzz/artifacts/<target>/. Prints the executions of every
# target and their total; exits non-zero when a target crashed.
#
#   scripts/fuzz.sh                       every target for 10 minutes
#   scripts/fuzz.sh --seconds 20          every target for 20 s (scripts/test.sh)
#   scripts/fuzz.sh --target fuzz-clock-sync --seconds 60
#   scripts/fuzz.sh --no-setup            do not check the installed packages
#   scripts/fuzz.sh --no-build            run the targets build/fuzz holds
#                                         (scripts/test.sh builds them first,
#                                         then runs two at a time)
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(fuzz-stream-records fuzz-clock-sync fuzz-adb-reply fuzz-audio-decoder fuzz-video-decoder fuzz-rtmp-session)
seconds=600
targets=()
setup=yes
build=yes
while [ $# -gt 0 ]; do
	case "$1" in
	--seconds)
		seconds=$2
		shift 2
		;;
	--target)
		targets+=("$2")
		shift 2
		;;
	--no-setup)
		setup=no
		shift
		;;
	--no-build)
		build=no
		shift
		;;
	-h | --help)
		sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
		exit 0
		;;
	*)
		echo "fuzz.sh: unknown option $1 (see --help)" >&2
		exit 2
		;;
	esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
[ "$setup" = no ] || scripts/setup.sh

dir=build/fuzz
if [ "$build" = yes ]; then
	cmake --preset fuzz >/dev/null
	cmake --build "$dir" -j 2 --target "${targets[@]}"
fi

# The adb target's loopback server thread lives for the whole run, by design.
export ASAN_OPTIONS=detect_leaks=0:${ASAN_OPTIONS:-}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

total=0
crashed=()
for t in "${targets[@]}"; do
	mkdir -p "$dir/corpus/$t" "$dir/artifacts/$t" "$dir/logs"
	log="$dir/logs/$t.log"
	status=0
	"$dir/tests/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
		-artifact_prefix="$dir/artifacts/$t/" "$dir/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1 ||
		status=$?
	runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
	runs=${runs:-0}
	total=$((total + runs))
	if [ "$status" -eq 0 ]; then
		echo "$t: $runs executions in ${seconds} s, no crash"
	else
		crashed+=("$t")
		echo "$t: CRASHED after $runs executions (status $status); input in $dir/artifacts/$t/, log $log:"
		grep -E 'ERROR|runtime error|fuzz check failed|SUMMARY' "$log" | head -n 5 | sed 's/^/    /'
	fi
done
echo "fuzz: ${total} executions over ${#targets[@]} targets, ${#crashed[@]} crashed"
[ ${#crashed[@]} -eq 0 ]
