#!/usr/bin/env bash
# Runs the tests that start libobs and those that run OBS Studio itself over
# and over, to find the ones that fail now and then: on this machine
# (build/release) and in the Debian unstable root with OBS 32 (build/obs32,
# scripts/debian-root.sh obs32), each in a network of its own with loopback
# only. Not
# part of the test command: a round takes minutes.
#
#   repeat-tests.sh [--runs N] [--root-runs N] [--busy-runs N]
#     --runs N       rounds on this machine (default 30)
#     --root-runs N  rounds in the OBS 32 root (default 30)
#     --busy-runs N  rounds on this machine beside a parallel build of the
#                    plug-in from scratch (default 1)
#
# Prints each failed test with its round, then the failures of each test and
# the totals; exits 1 when any test failed. Logs in build/repeat/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/common.sh

runs=30
root_runs=30
busy_runs=1
while [ $# -gt 0 ]; do
	case "$1" in
	--runs) runs=$2; shift 2 ;;
	--root-runs) root_runs=$2; shift 2 ;;
	--busy-runs) busy_runs=$2; shift 2 ;;
	*)
		echo "usage: $0 [--runs N] [--root-runs N] [--busy-runs N]" >&2
		exit 2
		;;
	esac
done

scripts/setup.sh
out=build/repeat
rm -rf "$out"
mkdir -p "$out"
failures=$out/failures.txt
: >"$failures"
jobs=$(nproc)
labels='libobs|real-obs'

cmake --preset release >/dev/null
cmake --build build/release -j "$jobs" >/dev/null
if [ "$root_runs" -gt 0 ]; then
	scripts/debian-root.sh obs32 run sh -ec "cd /src
		cmake --preset obs32 >/dev/null
		cmake --build build/obs32 -j $jobs >/dev/null"
fi

# round NAME LOG CMD...: one run of the tests; records what failed.
round() {
	local name=$1 log=$2 started=$SECONDS
	shift 2
	"$@" </dev/null >"$log" 2>&1 || true
	local passed fails
	if ! read -r passed fails < <(ctest_counts "$log"); then
		echo "$name (no summary: see $log)" | tee -a "$failures"
		return
	fi
	sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p' "$log" | while read -r test; do
		echo "$name $test" | tee -a "$failures"
	done
	echo "$name: $passed passed, $fails failed ($((SECONDS - started)) s)"
}

here() { unshare --net sh -c 'ip link set lo up && exec "$@"' sh ctest --test-dir build/release -j "$jobs" -L "$labels"; }
in_root() { unshare --net scripts/debian-root.sh obs32 run ctest --test-dir /src/build/obs32 -j "$jobs" -L "$labels"; }

for i in $(seq "$runs"); do round "debian12 #$i" "$out/debian12-$i.log" here; done
for i in $(seq "$root_runs"); do round "obs32 #$i" "$out/obs32-$i.log" in_root; done
for i in $(seq "$busy_runs"); do
	# A build from scratch beside the tests, for as long as they run.
	rm -rf "$out/busy-build"
	cmake --preset busy >/dev/null
	(while cmake --build "$out/busy-build" -j "$jobs" >/dev/null 2>&1; do cmake --build "$out/busy-build" --target clean >/dev/null; done) &
	builder=$!
	round "busy #$i" "$out/busy-$i.log" here
	kill "$builder" 2>/dev/null || true
	wait "$builder" 2>/dev/null || true
	pkill -f "$out/busy-build" 2>/dev/null || true
done

echo
echo "failures by test:"
if [ -s "$failures" ]; then
	awk '{print $NF}' "$failures" | sort | uniq -c | sort -rn
else
	echo "  none"
fi
total=$((runs + root_runs + busy_runs))
echo "repeat: $total rounds, $(wc -l <"$failures") failures"
[ ! -s "$failures" ]
