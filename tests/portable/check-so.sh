#!/usr/bin/env bash
# The portable ostrelin.so's tables, read from the file itself (binutils):
#   needed   it needs glibc's and the C++ runtime's libraries by name, and
#            nothing else: no libobs, no FFmpeg
#   exports  it exports exactly the names of the module's export list
#            (cmake/windows/ostrelin.def), so no FFmpeg name is visible
#   libobs   its undefined functions without a symbol version (libobs's:
#            glibc's and the C++ runtime's carry one) are all exported by
#            each libobs given
#   glibc    it asks for no glibc symbol version newer than 2.36 (Debian 12)
#
#   check-so.sh MODULE.so DEF LIBOBS.so...      every check; ends with
#                                               "portable-so: N passed, M failed"
#   check-so.sh --only CHECK MODULE.so DEF LIBOBS.so...
#                                               one check, quietly: its status
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

newest_glibc=2.36
runtime='^(libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|ld-linux-x86-64\.so\.2|libstdc\+\+\.so\.6|libgcc_s\.so\.1)$'

needed() {
	local names others
	names=$(objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }')
	others=$(grep -Ev "$runtime" <<<"$names")
	echo "    NEEDED: $(echo $names)"
	[ -n "$names" ] && [ -z "$others" ]
}

exports() {
	local want got
	want=$(sed -n '/^EXPORTS/,$p' "$2" | tail -n +2 | awk '/^[A-Za-z_]/ { print $1 }' | sort)
	got=$(nm -D --defined-only "$1" | awk '{ print $3 }' | sed 's/@.*//' | sort -u)
	echo "    exports: $(grep -c . <<<"$got") names"
	diff -u --label "exports (list)" --label "exports ($1)" <(echo "$want") <(echo "$got")
}

libobs() {
	local module=$1 list status=0
	shift 2
	list=$(mktemp)
	nm -D --undefined-only "$module" | awk '$1 == "U" && $2 !~ /@/ { print $2 }' | sort -u >"$list"
	echo "    undefined without a version: $(grep -c . "$list") functions"
	[ -s "$list" ] || status=1
	for library in "$@"; do
		"$here/../windows/check-obs-exports.sh" "$list" "$library" | sed 's/^/    /' || status=1
	done
	rm -f "$list"
	return $status
}

glibc() {
	local newest
	newest=$(objdump -T "$1" | grep -oE 'GLIBC_[0-9]+(\.[0-9]+)+' | sed 's/GLIBC_//' | sort -uV | tail -n 1)
	echo "    newest glibc version asked for: ${newest:-none}"
	[ -n "$newest" ] && [ "$(printf '%s\n%s\n' "$newest" "$newest_glibc" | sort -V | tail -n 1)" = "$newest_glibc" ]
}

if [ "${1:-}" = --only ]; then
	check=$2
	shift 2
	"$check" "$@" >/dev/null 2>&1
	exit
fi

. "$here/../../scripts/lib/common.sh"
module=$1
check "needs only glibc's and the C++ runtime's libraries" needed "$@"
check "exports exactly the names of $2" exports "$@"
check "every libobs function it calls is exported by ${*:3}" libobs "$@"
check "asks for glibc $newest_glibc at most" glibc "$@"
echo "$module: $(stat -c %s "$module") bytes"
checks_summary portable-so
