#!/usr/bin/env bash
# Compares the Windows build's symbol lists with the Linux module built from
# the same sources: the functions it imports from libobs
# (cmake/windows/obs.symbols; FFmpeg is linked into the Windows DLL, so its
# functions need no list) and the names it exports (cmake/windows/ostrelin.def).
# Prints the differences; exit 1 when any. With --update, rewrites the import
# list from the module instead (its comment lines kept); the export list names
# the module's public functions and is edited by hand.
#   check-symbol-lists.sh <ostrelin.so> <cmake/windows folder> [--update]
set -euo pipefail
module=$1
lists=$2
update=${3:-}

listed() { grep -E '^[A-Za-z_]' "$1" | sort -u; }

# The undefined symbols of the module that the library at $1 defines.
imported_from() {
	comm -12 <(nm -D --undefined-only "$module" | awk '{print $2}' | sed 's/@.*//' | sort -u) \
		<(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | sort -u)
}

library_path() {
	ldd "$module" | awk -v name="$1" '$1 ~ "^"name"\\.so" {print $3}'
}

status=0
compare() {
	local what=$1 expected=$2 actual=$3
	if ! diff -u --label "$what (list)" --label "$what (Linux module)" <(echo "$expected") <(echo "$actual"); then
		status=1
	else
		echo "$what: $(echo "$expected" | grep -c .) names agree"
	fi
}

for pair in obs:libobs; do
	list=${pair%%:*}
	lib=$(library_path "${pair#*:}")
	[ -n "$lib" ] || { echo "$module does not link ${pair#*:}"; exit 1; }
	if [ "$update" = --update ]; then
		{ grep '^#' "$lists/$list.symbols" || true; imported_from "$lib"; } >"$lists/$list.symbols.new"
		mv "$lists/$list.symbols.new" "$lists/$list.symbols"
	fi
	compare "$list.symbols" "$(listed "$lists/$list.symbols")" "$(imported_from "$lib")"
done

exports=$(sed -n '/^EXPORTS/,$p' "$lists/ostrelin.def" | tail -n +2 | awk '{print $1}' | grep -E '^[A-Za-z_]' | sort -u)
# Names with a leading underscore are the linker's (_end) or a sanitizer's
# (__odr_asan.*), never the module's.
compare "ostrelin.def" "$exports" "$(nm -D --defined-only "$module" | awk '{print $3}' | grep -v '^_' | sort -u)"
exit $status
