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
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
failed=0
passed_total=0
failed_total=0

configure_and_build() {
	local dir=$1
	shift
	cmake -S . -B "$dir" -G Ninja -DOSTRELIN_WERROR=ON "$@" >/dev/null
	cmake --build "$dir" -j "$jobs"
}

run_ctest() {
	local dir=$1
	shift
	local log="$dir/ctest-summary.log"
	if ctest --test-dir "$dir" -j "$jobs" --output-on-failure "$@" </dev/null | tee "$log"; then :; else failed=1; fi
	local line
	line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
	if [ -n "$line" ]; then
		local total fails
		total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
		fails=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
		passed_total=$((passed_total + total - fails))
		failed_total=$((failed_total + fails))
	fi
}

check_step() {
	local name=$1
	shift
	if "$@"; then
		passed_total=$((passed_total + 1))
		echo "$name: ok"
	else
		failed_total=$((failed_total + 1))
		failed=1
		echo "$name: FAILED"
	fi
}

# Adds the counts of a runner's last "<name>: N passed, M failed" line in a
# log; a log without one counts as a failure.
count_summary() {
	local name=$1 log=$2 line
	line=$(grep -E "^$name: [0-9]+ passed, [0-9]+ failed\$" "$log" | tail -n 1 || true)
	if [ -z "$line" ]; then
		failed_total=$((failed_total + 1))
		failed=1
		return
	fi
	passed_total=$((passed_total + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")))
	failed_total=$((failed_total + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
}

# The tests that need neither libobs nor FFmpeg, as Windows programs under
# Wine; each GoogleTest case counts.
run_wine_tests() {
	local dir=build/windows-tests
	# -U: the SDK folders go back to their defaults (libobs 29.0.2's and 32.2.2's
	# headers, the static FFmpeg that scripts/build-windows.sh put in build/),
	# whatever an earlier run left in the cache.
	if ! cmake -S tests/windows -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -U 'OSTRELIN_*' >/dev/null || ! cmake --build "$dir" -j "$jobs"; then
		echo "windows tests: build FAILED"
		failed_total=$((failed_total + 1))
		failed=1
		return
	fi
	local log="$dir/wine-summary.log"
	if tests/windows/run-under-wine.sh "$dir" </dev/null | tee "$log"; then :; else failed=1; fi
	count_summary wine "$log"
}

# The real ostrelin.dll under Wine beside a stand-in obs.dll of libobs 29.0.2,
# 32.2.2 and 32.1.0 in turn, and no FFmpeg DLL, against the reference sender
# running natively; each case counts.
run_dll_e2e() {
	local log=build/windows-tests/dll-e2e-summary.log
	if tests/windows/e2e/run-dll-e2e.sh build/windows-tests build/windows/ostrelin.dll \
		build/release/tools/ostrelin-sender </dev/null | tee "$log"; then :; else failed=1; fi
	count_summary dll-e2e "$log"
}

# The installer under Wine: silent install, loading from where it installs,
# upgrade, silent uninstall; each check counts.
run_installer_test() {
	local log=build/windows-tests/installer-summary.log setup
	setup=$(ls build/windows/ostrelin-*-windows-x64-setup.exe 2>/dev/null | head -n 1)
	if tests/windows/check-installer.sh build/windows-tests build/windows/ostrelin.dll "${setup:-no-installer}" \
		</dev/null | tee "$log"; then :; else failed=1; fi
	count_summary installer "$log"
}

format_check() {
	git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h' 'support/*.cpp' 'support/*.h' 'bench/*.cpp' 'bench/*.h' |
		xargs -r clang-format --dry-run --Werror
}

check_step "clang-format" format_check
# The docs against the tree: the paths they name, the log lines they quote.
mkdir -p build
python3 tests/docs/check-docs.py </dev/null | tee build/docs.log || failed=1
count_summary docs build/docs.log
python3 tests/docs/check-docs.py --refuted </dev/null | tee build/docs-refuted.log || failed=1
count_summary docs-refuted build/docs-refuted.log
check_step "windows DLL, zip and installer for OBS 29.0 to 32.2 (mingw-w64)" scripts/build-windows.sh
check_step "ostrelin.dll imports obs.dll and Windows' DLLs only, exports the module's names only" \
	tests/windows/check-dll.sh build/windows/ostrelin.dll cmake/windows/ostrelin.def
check_step "obs.symbols exported by libobs 29.0.2" tests/windows/check-obs-exports.sh cmake/windows/obs.symbols \
	/usr/lib/x86_64-linux-gnu/libobs.so.0
check_step "obs.symbols exported by libobs 32.2.2" tests/windows/check-obs-exports.sh cmake/windows/obs.symbols \
	build/obs32-sdk/root/usr/lib/x86_64-linux-gnu/libobs.so.0
run_wine_tests
run_installer_test

configure_and_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest build/release
run_dll_e2e

# The plug-in against OBS 30.2.3 (Debian 13) and OBS 32.2.2 (Debian
# unstable), each with its libobs and FFmpeg, in a root of that release
# (build/obs30-root, build/obs32-root, made once): its build and every test
# there, the real-OBS test included (scripts/debian-root.sh).
mkdir -p build
for stage in obs30 obs32; do
	started=$SECONDS
	if scripts/debian-root.sh $stage check </dev/null | tee build/$stage-stage.log; then :; else failed=1; fi
	count_summary $stage build/$stage-stage.log
	echo "$stage stage: $((SECONDS - started)) s"
done

# The portable module: one ostrelin.so for every Linux OBS, its tarball and
# the one .deb made from it (scripts/build-portable.sh, scripts/package-deb.sh).
# Its tables, each check also shown failing on a build that breaks it; the
# tarball and its install.sh; the module beside this machine's FFmpeg 5.1
# (the linker's bindings, pictures equal to ffmpeg's); the tarball's folder
# in real OBS 29 (here), 30.2.3 (the obs30 root) and 32.2.2 (the obs32 root),
# and in a Flatpak-like copy of the obs32 root; the .deb installed, run in
# OBS and removed in clean roots of Debian 12, 13 and unstable.
run_portable() {
	local started=$SECONDS tarball deb def=cmake/windows/ostrelin.def
	local libobs=(/usr/lib/x86_64-linux-gnu/libobs.so.0 build/obs32-sdk/root/usr/lib/x86_64-linux-gnu/libobs.so.0)
	export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
	check_step "portable ostrelin.so and its tarball" scripts/build-portable.sh </dev/null
	tarball=$(ls build/portable/ostrelin-*-linux-x86_64.tar.xz 2>/dev/null | head -n 1)
	tarball=${tarball:-build/portable/no-tarball}
	tests/portable/check-so.sh build/portable/ostrelin.so "$def" "${libobs[@]}" </dev/null |
		tee build/portable-so.log || failed=1
	count_summary portable-so build/portable-so.log
	tests/portable/check-so-refuted.sh "$def" build/release/ostrelin.so build/obs32/ostrelin.so "${libobs[@]}" \
		</dev/null | tee build/portable-so-refuted.log || failed=1
	count_summary portable-so-refuted build/portable-so-refuted.log
	tests/portable/check-tarball.sh "$tarball" </dev/null | tee build/tarball.log || failed=1
	count_summary tarball build/tarball.log
	tests/portable/check-bindings.sh "$tarball" build/release/tests/decode-with-module \
		build/release/tools/ostrelin-sender build/release/tests/real-obs/log_texts.py build/release/ostrelin.so \
		</dev/null | tee build/bindings.log || failed=1
	count_summary bindings build/bindings.log
	for stage in obs30 obs32; do
		check_step "the tarball's plug-in folder in the real OBS of the $stage root" \
			scripts/debian-root.sh $stage try bash /src/tests/real-obs/run.sh --tarball "/src/$tarball" \
			"/src/build/$stage/tools/ostrelin-sender" "/src/build/$stage/tests/real-obs/log_texts.py" </dev/null
	done
	scripts/debian-root.sh obs32 try bash /src/tests/portable/flatpak-like.sh "/src/$tarball" \
		/src/build/obs32/tools/ostrelin-sender /src/build/obs32/tests/real-obs/log_texts.py \
		/src/build/obs32/ostrelin.so </dev/null | tee build/flatpak-like.log || failed=1
	count_summary flatpak-like build/flatpak-like.log
	echo "portable stage: $((SECONDS - started)) s"

	# The one .deb, tried in a clean root of each release (build/deb12-root,
	# deb13-root, sid-root, made once; each try in a throwaway copy), with
	# the sender built for that release.
	rm -f build/packages/ostrelin_*.deb
	deb=$(scripts/package-deb.sh --build-dir build/portable </dev/null) || deb=""
	check_step "the .deb: ${deb##*/}" test -n "$deb"
	tests/package/check-deb.sh "${deb:-none}" </dev/null | tee build/deb-contents.log || failed=1
	count_summary deb-contents build/deb-contents.log
	local root build
	while read -r root build; do
		started=$SECONDS
		scripts/debian-root.sh "$root" try /src/tests/package/try-deb.sh "$root" "/src/${deb#"$PWD"/}" \
			"/src/$build/tools/ostrelin-sender" "/src/$build/tests/real-obs/log_texts.py" </dev/null |
			tee "build/package-$root.log" || failed=1
		count_summary "package-$root" "build/package-$root.log"
		echo "package-$root stage: $((SECONDS - started)) s"
	done <<<"deb12 build/release
deb13 build/obs30
sid build/obs32"
}
run_portable

configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DOSTRELIN_SANITIZE=address,undefined -DOSTRELIN_BENCH=OFF
ASAN_OPTIONS=${ASAN_OPTIONS:-} UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest build/asan -LE real-obs

configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DOSTRELIN_SANITIZE=thread -DOSTRELIN_BENCH=OFF
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" run_ctest build/tsan -L threaded

for target in fuzz-stream-records fuzz-clock-sync fuzz-adb-reply fuzz-audio-decoder fuzz-video-decoder; do
	check_step "$target (20 s)" scripts/fuzz.sh --no-setup --seconds 20 --target "$target"
done

echo
echo "all: ${passed_total} passed, ${failed_total} failed"
exit $failed
