#!/usr/bin/env bash
# scripts/release.sh refuses a version that CHANGELOG.md has no section for,
# before it builds anything (the test command's release-run stage shows it
# releasing the version that has one). Run on a copy of the files it reads.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrelin-changelog-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$repo/scripts/lib/common.sh"

mkdir -p "$work/scripts/lib"
cp "$repo/scripts/release.sh" "$work/scripts/"
cp "$repo/scripts/lib/common.sh" "$work/scripts/lib/"
cp "$repo/CMakeLists.txt" "$work/"
version=$(ostrelin_version)
# Anything past the check would try to build: a setup.sh that says so.
printf '#!/bin/sh\necho "past the check"\nexit 3\n' >"$work/scripts/setup.sh"
chmod +x "$work/scripts/setup.sh"
refuses() {
	bash "$work/scripts/release.sh" </dev/null >"$work/out" 2>&1
	local status=$?
	[ "$status" -eq 1 ] && grep -q "CHANGELOG.md has no section for $version" "$work/out" && ! grep -q "past the check" "$work/out"
}
passes() {
	bash "$work/scripts/release.sh" </dev/null >"$work/out" 2>&1
	grep -q "past the check" "$work/out"
}

check "the repository's CHANGELOG.md has a section for $version" grep -q "^## \[$version\]" "$repo/CHANGELOG.md"
grep -v "^## \[$version\]" "$repo/CHANGELOG.md" >"$work/CHANGELOG.md"
check "release.sh refuses $version when CHANGELOG.md has no section for it" refuses
sed "s/^## \[[0-9.]*\]/## [${version}9]/" "$repo/CHANGELOG.md" >"$work/CHANGELOG.md"
check "a section for a version that merely starts alike does not count" refuses
cp "$repo/CHANGELOG.md" "$work/CHANGELOG.md"
check "with the repository's CHANGELOG.md it goes past the check" passes
checks_summary "changelog checks"
