#!/usr/bin/env bash
# Builds the benchmarks in release (RelWithDebInfo, in build/bench: the preset
# "bench") and runs
# them. Each one prints what it measured, its reference measured in the same
# run, the figures, and each ratio against its target; a summary of all of
# them follows. The benchmarks are not tests: a ratio a little off its target
# is only reported. The exit status is non-zero when a ratio misses its target
# by far or a benchmark cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

dir=build/bench
# Tools on: bench-jitter runs the reference sender.
cmake --preset bench >/dev/null
cmake --build "$dir" -j 2 --target bench-decode bench-h265 bench-delivery bench-stop bench-holds \
	bench-refused-connect bench-jitter

log="$dir/bench-output.log"
: >"$log"
failed=()

# Runs one benchmark, under xvfb-run when it starts libobs's graphics, and
# returns the benchmark's own exit status (xvfb-run may add one of its own
# when it cleans up).
run_bench() {
	local name=$1 needs_display=$2
	local status_file="$dir/$name.status"
	echo 2 >"$status_file"
	local program=${3:-$dir/bench/$name}
	local run=(sh -c '"$1"; echo $? >"$2"' sh "$program" "$status_file")
	echo
	echo "### $name"
	if [ "$needs_display" = yes ]; then
		xvfb-run -a "${run[@]}" </dev/null | tee -a "$log" | grep -v '^SUMMARY|' || true
	else
		"${run[@]}" </dev/null | tee -a "$log" | grep -v '^SUMMARY|' || true
	fi
	local status
	status=$(cat "$status_file")
	case "$status" in
	0) ;;
	1) failed+=("$name: a ratio missed its target by far") ;;
	*) failed+=("$name: could not run (status $status)") ;;
	esac
}

run_bench bench-decode no
# H.265 against H.264 at 1080p30 and 1080p60: the bit rate for the same
# quality (a search over 2 s clips) and the decode time per picture.
run_bench bench-h265 no
run_bench bench-delivery yes
run_bench bench-stop yes
run_bench bench-holds yes
run_bench bench-refused-connect no
# Four networks, each with the audio clock alone, the audio allowance and
# "Smooth and in sync", and the steady link under load (OBS's ticks made
# late, both cores busy): 18 rows of 60 s.
run_bench bench-jitter yes

# The same socket layer built for Windows, under Wine.
windows_dir=build/windows-tests
cmake -S tests/windows --preset windows-tests >/dev/null
cmake --build "$windows_dir" -j 2 --target bench-refused-connect
cat >"$dir/wine-bench" <<WINE
#!/bin/sh
WINEPREFIX="$PWD/$windows_dir/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" exec wine "$PWD/$windows_dir/bench-refused-connect.exe" 2>/dev/null
WINE
chmod +x "$dir/wine-bench"
run_bench bench-refused-connect-wine no "$dir/wine-bench"

echo
echo "=== Summary (ratios against a reference measured in the same run) ==="
{
	echo "bench|measured|value|target|verdict"
	grep '^SUMMARY|' "$log" | grep -v '|report only|' | cut -d'|' -f2-
} | column -t -s '|'
echo
echo "Reported only:"
grep '^SUMMARY|' "$log" | grep '|report only|' | awk -F'|' '{ printf "  %s: %s: %s\n", $2, $3, $4 }'
echo
met=$(grep -c '^SUMMARY|.*|met$' "$log" || true)
missed=$(grep -c '^SUMMARY|.*|missed$' "$log" || true)
far=$(grep -c '^SUMMARY|.*|MISSED BY FAR$' "$log" || true)
echo "targets: ${met} met, ${missed} missed by a little, ${far} missed by far"
if [ ${#failed[@]} -gt 0 ]; then
	printf 'FAILED: %s\n' "${failed[@]}"
	exit 1
fi
