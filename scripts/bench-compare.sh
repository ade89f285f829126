#!/usr/bin/env bash
# Ostrelin beside OBS's own Media Source, several Ostrelin sources at once,
# and the idle cost of a source without its phone (bench-media-source and
# bench-sources, built in release in build/compare), then the README's table
# (printed) and chart (docs/bench-media-source.png). About 3 minutes. With
# --soak N, the soak of one source for N minutes instead (bench-soak).
#
#   scripts/bench-compare.sh                  comparison, table and chart
#   scripts/bench-compare.sh --seconds 30     seconds measured per round (20)
#   scripts/bench-compare.sh --soak 30        the 30-minute soak
#   scripts/bench-compare.sh --no-chart       figures only, docs/ untouched
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
soak=""
chart=yes
while [ $# -gt 0 ]; do
	case "$1" in
	--seconds)
		seconds=$2
		shift 2
		;;
	--soak)
		soak=$2
		shift 2
		;;
	--no-chart)
		chart=no
		shift
		;;
	-h | --help)
		sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
		exit 0
		;;
	*)
		echo "bench-compare.sh: unknown option $1 (see --help)" >&2
		exit 2
		;;
	esac
done

scripts/setup.sh

dir=build/compare
cmake --preset compare >/dev/null
cmake --build "$dir" -j 2 --target bench-media-source bench-sources bench-soak

# Runs one benchmark under Xvfb, its output also in $dir/<name>.log; returns
# the benchmark's own exit status (not xvfb-run's).
run_bench() {
	local name=$1
	shift
	local status_file="$dir/$name.status"
	echo 2 >"$status_file"
	xvfb-run -a sh -c '"$@"; echo $? >"$0"' "$status_file" "$dir/bench/$name" "$@" </dev/null 2>&1 |
		tee "$dir/$name.log" | grep -v '^FIGURE|' || true
	return "$(cat "$status_file")"
}

if [ -n "$soak" ]; then
	status=0
	run_bench bench-soak --minutes "$soak" || status=$?
	exit "$status"
fi

status=0
run_bench bench-media-source --seconds "$seconds" || status=$?
run_bench bench-sources --seconds "$seconds" || status=$?
grep -h '^FIGURE|' "$dir/bench-media-source.log" "$dir/bench-sources.log" >"$dir/figures.txt"
if [ "$chart" = yes ]; then
	echo
	echo "=== README table (chart: docs/bench-media-source.png) ==="
	/usr/bin/python3 scripts/bench-chart.py "$dir/figures.txt" docs/bench-media-source.png
fi
exit "$status"
