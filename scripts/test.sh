#!/usr/bin/env bash
# Sets up the machine, builds Ostrelin five ways and runs every test:
#   build/release  optimised, warnings as errors: all tests, the real-OBS test included
#   build/asan     AddressSanitizer + UndefinedBehaviorSanitizer: all unit and libobs tests
#   build/tsan     ThreadSanitizer: the tests labelled "threaded"
#   build/obs30    in a Debian 13 root with OBS 30.2.3 (scripts/debian-root.sh obs30): all tests
#   build/obs32    in a Debian unstable root with OBS 32 (scripts/debian-root.sh obs32): all tests
# then builds the portable Linux module (one ostrelin.so for every Linux OBS,
# with a static FFmpeg 8.1.2 inside), checks its tables, runs its tarball's
# plug-in folder in real OBS 29, 30 and 32 and a Flatpak-like root, and tries
# the one .deb made from it in clean roots of Debian 12, 13 and unstable (apt
# installs it, OBS runs the installed module through the real-OBS test, apt
# removes it whole);
# plus the Windows build for OBS 29.0 to 32.2 (the DLL, its zip and its
# installer, cross-built with mingw-w64 against libobs 29.0.2's headers with a
# static FFmpeg 8.1.2 inside; its export and import tables checked, its libobs
# imports checked against the exports of libobs 29.0.2 and 32.2.2), the Windows
# tests run under Wine, the DLL itself run end to end under Wine against the
# reference sender beside stand-ins of libobs 29.0.2, 32.2.2 and 32.1.0, the
# installer's silent install and uninstall under Wine, a format check, and
# each fuzz target (clang,
# libFuzzer, ASan + UBSan) for 20 s from its committed corpus, which keeps
# every input that once crashed one.
#
#   scripts/test.sh                 every stage, in the order of --list
#   scripts/test.sh --only STAGE    one stage (repeatable); a stage that uses
#                                   another's build (dll-e2e, release-run,
#                                   portable, packages) takes it as it is
#   scripts/test.sh --list          the stages
#
# Each build is CMakePresets.json's preset of its folder's name; build/asan and
# build/tsan build only the tests they run (the ostrelin-tests target), the
# roots' builds only the tests that depend on their libobs and FFmpeg
# (OSTRELIN_TEST_SET). The Debian roots the chosen stages use are made in the
# background from the start (mmdebstrap: downloads and unpacking) while the
# first stages build; each root's log is printed, and a root not made fails,
# in the first stage that needs it. A build that fails fails its stage, with
# its reason, and the other stages still run. Each stage ends with its time;
# the last lines are a table of the stages' times and the total, the failed
# stages, then "all: N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/common.sh

stages=(format docs windows wine installer release dll-e2e release-run obs30 obs32 portable packages asan tsan fuzz)
usage() {
	sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
}
only=()
while [ $# -gt 0 ]; do
	case "$1" in
	--list)
		printf '%s\n' "${stages[@]}"
		exit 0
		;;
	--only)
		[ $# -ge 2 ] || { echo "test.sh: --only needs a stage (see --list)" >&2; exit 2; }
		case " ${stages[*]} " in
		*" $2 "*) only+=("$2") ;;
		*) echo "test.sh: no stage $2 (see --list)" >&2; exit 2 ;;
		esac
		shift 2
		;;
	-h | --help)
		usage
		exit 0
		;;
	*)
		echo "test.sh: unknown option $1 (see --help)" >&2
		exit 2
		;;
	esac
done
[ ${#only[@]} -gt 0 ] || only=("${stages[@]}")
chosen() {
	case " ${only[*]} " in *" $1 "*) return 0 ;; esac
	return 1
}

started_all=$SECONDS
scripts/setup.sh
stage_times=("setup $((SECONDS - started_all))")

# The roots the chosen stages use, in the order they are needed, made one
# after another in the background; build/roots/NAME.log holds a root's
# output, build/roots/NAME.status its exit status once made.
roots=()
! chosen obs30 && ! chosen portable || roots+=(obs30)
! chosen obs32 && ! chosen portable || roots+=(obs32)
! chosen packages || roots+=(deb12 deb13 sid)
mkdir -p build/roots
for root in "${roots[@]}"; do rm -f "build/roots/$root.status"; done
if [ ${#roots[@]} -gt 0 ]; then
	(
		for root in "${roots[@]}"; do
			made=0
			scripts/debian-root.sh "$root" make </dev/null >"build/roots/$root.log" 2>&1 || made=$?
			echo "$made" >"build/roots/$root.status"
		done
	) &
	roots_pid=$!
fi

# await_root NAME: waits for NAME's root from the background, prints its log;
# fails, with the stage's reason, when it was not made.
await_root() {
	local root=$1 waited=$SECONDS
	case " ${roots[*]} " in *" $root "*) ;; *) return 0 ;; esac
	while [ ! -f "build/roots/$root.status" ] && kill -0 "$roots_pid" 2>/dev/null; do sleep 1; done
	echo "the $root root, made in the background (waited $((SECONDS - waited)) s for it):"
	sed 's/^/  /' "build/roots/$root.log"
	if [ "$(cat "build/roots/$root.status" 2>/dev/null)" != 0 ]; then
		stage_reason="the $root root was not made (log: build/roots/$root.log)"
		check "the $root root" false
		return 1
	fi
}

jobs=$(nproc)
CHECKS_SAY_OK=yes
# Set when a runner fails without a count to show it (its exit status only).
status=0
# The reason a build stopped the current stage, if one did.
stage_reason=""

# build PRESET [TARGET...]: configures the preset's folder and builds it (the
# targets named, else all), its output in build/PRESET-build.log; on failure
# the stage's reason is set and a failure counted.
build() {
	local preset=$1 log=build/$1-build.log targets=()
	shift
	[ $# -eq 0 ] || targets=(--target "$@")
	mkdir -p build
	if cmake --preset "$preset" >"$log" 2>&1 &&
		cmake --build "build/$preset" -j "$jobs" "${targets[@]}" 2>&1 | tee -a "$log"; then
		return 0
	fi
	tail -n 30 "$log"
	stage_reason="build/$preset did not build (log: $log)"
	check "build/$preset builds" false
	return 1
}

run_ctest() {
	local dir=$1
	shift
	local log="$dir/ctest-summary.log" counts
	if ctest --test-dir "$dir" -j "$jobs" --output-on-failure "$@" </dev/null | tee "$log"; then :; else status=1; fi
	if counts=$(ctest_counts "$log"); then
		# shellcheck disable=SC2086 # two numbers
		checks_add $counts
	else
		check "ctest in $dir reports its tests" false
	fi
}

# Adds the counts of a runner's last "<name>: N passed, M failed" line in a
# log; a log without one counts as a failure.
count_summary() {
	local counts
	if counts=$(runner_counts "$1" "$2"); then
		# shellcheck disable=SC2086
		checks_add $counts
	else
		check "$1 reports its checks" false
	fi
}

stage_format() {
	format_check() {
		git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h' 'support/*.cpp' 'support/*.h' 'bench/*.cpp' 'bench/*.h' |
			xargs -r clang-format --dry-run --Werror
	}
	check "clang-format" format_check
}

# The docs against the tree: the paths they name, the log lines they quote.
stage_docs() {
	mkdir -p build
	python3 tests/docs/check-docs.py </dev/null | tee build/docs.log || status=1
	count_summary docs build/docs.log
	python3 tests/docs/check-docs.py --refuted </dev/null | tee build/docs-refuted.log || status=1
	count_summary docs-refuted build/docs-refuted.log
}

stage_windows() {
	check "windows DLL, zip and installer for OBS 29.0 to 32.2 (mingw-w64)" scripts/build-windows.sh
	check "ostrelin.dll imports obs.dll and Windows' DLLs only, exports the module's names only" \
		tests/windows/check-dll.sh build/windows/ostrelin.dll cmake/windows/ostrelin.def
	check "obs.symbols exported by libobs 29.0.2" tests/windows/check-obs-exports.sh cmake/windows/obs.symbols \
		/usr/lib/x86_64-linux-gnu/libobs.so.0
	check "obs.symbols exported by libobs 32.2.2" tests/windows/check-obs-exports.sh cmake/windows/obs.symbols \
		build/obs32-sdk/root/usr/lib/x86_64-linux-gnu/libobs.so.0
}

# The tests that need neither libobs nor FFmpeg, as Windows programs under
# Wine; each GoogleTest case counts. The preset (tests/windows) names every
# SDK folder: libobs 29.0.2's and 32.2.2's headers, the static FFmpeg that
# scripts/build-windows.sh put in build/.
stage_wine() {
	local dir=build/windows-tests log=build/windows-tests-build.log
	mkdir -p build
	if ! { cmake -S tests/windows --preset windows-tests >"$log" 2>&1 && cmake --build "$dir" -j "$jobs" 2>&1 | tee -a "$log"; }; then
		tail -n 30 "$log"
		stage_reason="build/windows-tests did not build (log: $log)"
		check "build/windows-tests builds" false
		return
	fi
	log="$dir/wine-summary.log"
	if tests/windows/run-under-wine.sh "$dir" </dev/null | tee "$log"; then :; else status=1; fi
	count_summary wine "$log"
}

# The installer under Wine: silent install, loading from where it installs,
# upgrade, silent uninstall; each check counts.
stage_installer() {
	local log=build/windows-tests/installer-summary.log setup
	mkdir -p build/windows-tests
	setup=$(ls build/windows/ostrelin-*-windows-x64-setup.exe 2>/dev/null | head -n 1)
	if tests/windows/check-installer.sh build/windows-tests build/windows/ostrelin.dll "${setup:-no-installer}" \
		</dev/null | tee "$log"; then :; else status=1; fi
	count_summary installer "$log"
}

stage_release() {
	build release || return 0
	run_ctest build/release
}

# The real ostrelin.dll under Wine beside a stand-in obs.dll of libobs 29.0.2,
# 32.2.2 and 32.1.0 in turn, and no FFmpeg DLL, against the reference sender
# running natively; each case counts.
stage_dll-e2e() {
	local log=build/windows-tests/dll-e2e-summary.log
	mkdir -p build/windows-tests
	if tests/windows/e2e/run-dll-e2e.sh build/windows-tests build/windows/ostrelin.dll \
		build/release/tools/ostrelin-sender </dev/null | tee "$log"; then :; else status=1; fi
	count_summary dll-e2e "$log"
}

# A release made, then the README's main job: scripts/run.sh builds what it
# runs in build/release, whatever the release left there (--build-only: the
# running itself is the release stage's real-OBS and host tests' part).
stage_release-run() {
	local log=build/release-run.log
	check "scripts/release.sh makes the release" sh -c 'scripts/release.sh </dev/null >"$1" 2>&1 || { tail -n 30 "$1"; exit 1; }' \
		sh "$log"
	tests/package/check-source-archive.sh "build/dist/ostrelin-$(ostrelin_version)" </dev/null |
		tee build/source-archive.log || status=1
	count_summary source-archive build/source-archive.log
	check "scripts/run.sh builds the plug-in, the reference sender and the headless host after it" \
		sh -c 'scripts/run.sh --build-only </dev/null >>"$1" 2>&1 || { tail -n 30 "$1"; exit 1; }' sh "$log"
	# The same where build/release was last configured with the tools off,
	# as a release script once left it: the preset turns them on again.
	check "scripts/run.sh builds the tools in a build/release configured without them" \
		sh -c 'cmake -S . -B build/release -DOSTRELIN_TOOLS=OFF >>"$1" 2>&1 &&
			scripts/run.sh --build-only </dev/null >>"$1" 2>&1 || { tail -n 30 "$1"; exit 1; }' sh "$log"
}

# The plug-in against OBS 30.2.3 (Debian 13) and OBS 32.2.2 (Debian
# unstable), each with its libobs and FFmpeg, in a root of that release
# (build/obs30-root, build/obs32-root, made once): its build (the preset of
# the same name) and every test there, the real-OBS test included
# (scripts/debian-root.sh).
debian_root_stage() {
	local stage=$1
	await_root "$stage" || return 0
	mkdir -p build
	if scripts/debian-root.sh "$stage" check </dev/null | tee "build/$stage-stage.log"; then :; else status=1; fi
	grep -qx "FAILED: $stage build" "build/$stage-stage.log" && stage_reason="build/$stage did not build in its root"
	count_summary "$stage" "build/$stage-stage.log"
}
stage_obs30() { debian_root_stage obs30; }
stage_obs32() { debian_root_stage obs32; }

# The portable module: one ostrelin.so for every Linux OBS, and its tarball
# (scripts/build-portable.sh). Its tables, each check also shown failing on
# a build that breaks it; the tarball and its install.sh; the module beside
# this machine's FFmpeg 5.1 (the linker's bindings, pictures equal to
# ffmpeg's); the tarball's folder in real OBS 29 (here), 30.2.3 (the obs30
# root) and 32.2.2 (the obs32 root), and in a Flatpak-like copy of the obs32
# root. It uses the release, obs30 and obs32 builds.
stage_portable() {
	local tarball def=cmake/windows/ostrelin.def
	local libobs=(/usr/lib/x86_64-linux-gnu/libobs.so.0 build/obs32-sdk/root/usr/lib/x86_64-linux-gnu/libobs.so.0)
	export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
	check "portable ostrelin.so and its tarball" scripts/build-portable.sh </dev/null
	tarball=$(ls build/portable/ostrelin-*-linux-x86_64.tar.xz 2>/dev/null | head -n 1)
	tarball=${tarball:-build/portable/no-tarball}
	tests/portable/check-so.sh build/portable/ostrelin.so "$def" "${libobs[@]}" </dev/null |
		tee build/portable-so.log || status=1
	count_summary portable-so build/portable-so.log
	tests/portable/check-so-refuted.sh "$def" build/release/ostrelin.so build/obs32/ostrelin.so "${libobs[@]}" \
		</dev/null | tee build/portable-so-refuted.log || status=1
	count_summary portable-so-refuted build/portable-so-refuted.log
	tests/portable/check-tarball.sh "$tarball" </dev/null | tee build/tarball.log || status=1
	count_summary tarball build/tarball.log
	tests/portable/check-bindings.sh "$tarball" build/release/tests/decode-with-module \
		build/release/tools/ostrelin-sender build/release/tests/real-obs/log_texts.py build/release/ostrelin.so \
		</dev/null | tee build/bindings.log || status=1
	count_summary bindings build/bindings.log
	local stage
	for stage in obs30 obs32; do
		await_root "$stage" || continue
		check "the tarball's plug-in folder in the real OBS of the $stage root" \
			scripts/debian-root.sh $stage try bash /src/tests/real-obs/run.sh --tarball "/src/$tarball" \
			"/src/build/$stage/tools/ostrelin-sender" "/src/build/$stage/tests/real-obs/log_texts.py" </dev/null
	done
	scripts/debian-root.sh obs32 try bash /src/tests/portable/flatpak-like.sh "/src/$tarball" \
		/src/build/obs32/tools/ostrelin-sender /src/build/obs32/tests/real-obs/log_texts.py \
		/src/build/obs32/ostrelin.so </dev/null | tee build/flatpak-like.log || status=1
	count_summary flatpak-like build/flatpak-like.log
}

# The one .deb made from the portable module (scripts/package-deb.sh), tried
# in a clean root of each release (build/deb12-root, deb13-root, sid-root,
# made once; each try in a throwaway copy), with the sender built for that
# release (the release, obs30 and obs32 builds).
stage_packages() {
	local deb root build started
	export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
	rm -f build/packages/ostrelin_*.deb
	deb=$(scripts/package-deb.sh --build-dir build/portable </dev/null) || deb=""
	check "the .deb: ${deb##*/}" test -n "$deb"
	tests/package/check-deb.sh "${deb:-none}" </dev/null | tee build/deb-contents.log || status=1
	count_summary deb-contents build/deb-contents.log
	while read -r root build; do
		started=$SECONDS
		await_root "$root" || continue
		scripts/debian-root.sh "$root" try /src/tests/package/try-deb.sh "$root" "/src/${deb#"$PWD"/}" \
			"/src/$build/tools/ostrelin-sender" "/src/$build/tests/real-obs/log_texts.py" </dev/null |
			tee "build/package-$root.log" || status=1
		count_summary "package-$root" "build/package-$root.log"
		echo "package-$root stage: $((SECONDS - started)) s"
	done <<<"deb12 build/release
deb13 build/obs30
sid build/obs32"
}

stage_asan() {
	build asan ostrelin-tests || return 0
	ASAN_OPTIONS=${ASAN_OPTIONS:-} UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest build/asan -LE real-obs
}

stage_tsan() {
	build tsan ostrelin-tests || return 0
	TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" run_ctest build/tsan -L threaded
}

# The fuzz targets built once, then run two at a time (each fuzzer is one
# process, one core), each for its 20 s; each one's output goes to
# build/fuzz-TARGET.out and is printed in the order of the list.
stage_fuzz() {
	local targets=(fuzz-stream-records fuzz-clock-sync fuzz-adb-reply fuzz-audio-decoder fuzz-video-decoder fuzz-rtmp-session)
	local log=build/fuzz-build.log i j target pids ok
	mkdir -p build
	if ! { cmake --preset fuzz >"$log" 2>&1 && cmake --build build/fuzz -j "$jobs" --target "${targets[@]}" >>"$log" 2>&1; }; then
		tail -n 30 "$log"
		stage_reason="build/fuzz did not build (log: $log)"
		check "build/fuzz builds" false
		return
	fi
	for ((i = 0; i < ${#targets[@]}; i += 2)); do
		pids=()
		for target in "${targets[@]:i:2}"; do
			scripts/fuzz.sh --no-setup --no-build --seconds 20 --target "$target" >"build/fuzz-$target.out" 2>&1 &
			pids+=($!)
		done
		for j in "${!pids[@]}"; do
			target=${targets[i + j]} ok=true
			wait "${pids[j]}" || ok=false
			cat "build/fuzz-$target.out"
			check "$target (20 s)" "$ok"
		done
	done
}

failed_stages=()
for stage in "${stages[@]}"; do
	chosen "$stage" || continue
	echo "== stage $stage"
	failed_before=$checks_failed status_before=$status stage_reason="" stopped=0 started=$SECONDS
	"stage_$stage" </dev/null || stopped=$?
	stage_times+=("$stage $((SECONDS - started))")
	echo "== $stage stage: $((SECONDS - started)) s"
	[ "$stopped" -eq 0 ] || stage_reason="stopped with status $stopped"
	if [ "$checks_failed" -gt "$failed_before" ] || [ "$status" != "$status_before" ] || [ "$stopped" -ne 0 ]; then
		[ -n "$stage_reason" ] || stage_reason="$((checks_failed - failed_before)) failed"
		failed_stages+=("$stage: $stage_reason")
	fi
done

[ -z "${roots_pid:-}" ] || wait "$roots_pid" || true

echo
printf '%-12s %6s\n' stage seconds
for line in "${stage_times[@]}"; do
	# shellcheck disable=SC2086 # a name and a number
	printf '%-12s %6d\n' $line
done
total=$((SECONDS - started_all))
printf '%-12s %6d  (%d min %02d s)\n' total "$total" $((total / 60)) $((total % 60))
echo
for line in "${failed_stages[@]}"; do echo "failed stage $line"; done
echo "all: ${checks_passed} passed, ${checks_failed} failed"
[ ${#failed_stages[@]} -eq 0 ]
