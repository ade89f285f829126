#!/usr/bin/env bash
# Each check of check-so.sh shown failing on a build that breaks it, and
# passing on the same build mended, so that none of them passes whatever it
# reads:
#   needed   a module linked against the system's libobs and FFmpeg (the
#            regular build), and a small library that needs libavcodec
#   exports  a library with the module's exports and one FFmpeg name more
#   libobs   a library calling a function no libobs has
#   glibc    a module built on a newer glibc (the unstable root's build)
#
#   check-so-refuted.sh DEF REGULAR.so NEWER_GLIBC.so LIBOBS.so...
# Ends with "portable-so-refuted: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
def=$1 regular=$2 newer=$3
shift 3
libobs=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
CHECKS_SAY_OK=yes
. "$here/../../scripts/lib/common.sh"

holds() { "$here/check-so.sh" --only "$1" "$2" "$def" "${libobs[@]}"; }
fails() { ! holds "$@"; }

# A small shared library from C source on standard input.
library() {
	local name=$1
	shift
	gcc -shared -fPIC -o "$work/$name.so" -x c - "$@"
}

names=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | awk '/^[A-Za-z_]/ { print $1 }')
for name in $names; do echo "void $name(void) {}"; done | library exact-exports
{ for name in $names; do echo "void $name(void) {}"; done; echo "void av_log(void) {}"; } | library ffmpeg-export
echo 'void obs_source_output_video(void *, void *); void f(void) { obs_source_output_video(0, 0); }' |
	library known-call
echo 'void obs_source_output_video3(void *, void *); void f(void) { obs_source_output_video3(0, 0); }' |
	library unknown-call
echo 'int avcodec_version(void); int f(void) { return avcodec_version(); }' | library needs-avcodec -lavcodec
echo '#include <string.h>
size_t f(const char *s) { return strlen(s); }' | library plain

check "needed: fails on the regular build ($(objdump -p "$regular" | awk '$1 == "NEEDED" && /obs|av/ { print $2 }' | paste -sd' '))" \
	fails needed "$regular"
check "needed: fails on a library that needs libavcodec" fails needed "$work/needs-avcodec.so"
check "needed: holds for a library that needs glibc alone" holds needed "$work/plain.so"
check "exports: fails with one FFmpeg name more" fails exports "$work/ffmpeg-export.so"
check "exports: holds for exactly the list" holds exports "$work/exact-exports.so"
check "libobs: fails on a call no libobs exports" fails libobs "$work/unknown-call.so"
check "libobs: holds for a call every libobs exports" holds libobs "$work/known-call.so"
check "glibc: fails on a build against a newer glibc ($(objdump -T "$newer" | grep -oE 'GLIBC_[0-9.]+' | sort -uV | tail -n 1))" \
	fails glibc "$newer"
check "glibc: holds for a library built here" holds glibc "$work/plain.so"
checks_summary portable-so-refuted
