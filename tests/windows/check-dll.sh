#!/usr/bin/env bash
# Checks a cross-built ostrelin.dll: its export table holds exactly the names
# of the .def file (no FFmpeg symbol: FFmpeg is linked in), and besides
# Windows' own DLLs it imports obs.dll only: no FFmpeg DLL (avcodec-*,
# avutil-*), no MinGW runtime DLL.
#   check-dll.sh <ostrelin.dll> <ostrelin.def>
set -euo pipefail
dll=$1
def=$2
objdump=x86_64-w64-mingw32-objdump

expected=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | awk '/^[A-Za-z_]/ {print $1}' | sort)
# The export table's name list: "[ n] name" lines after "[Ordinal/Name Pointer] Table".
exported=$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
	awk '/^[ \t]*\[ *[0-9]+\]/ {print $NF}' | sort)
status=0
if ! diff -u --label "exports (list)" --label "exports ($dll)" <(echo "$expected") <(echo "$exported"); then
	status=1
fi

imports=$($objdump -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
windows='^(kernel32|ws2_32|msvcrt|ucrtbase|advapi32|user32|bcrypt|shell32|ole32|api-ms-win-[a-z0-9-]+)\.dll$'
wanted=obs.dll
others=$(for name in $imports; do [[ $name =~ $windows ]] || echo "$name"; done)
if ! diff -u --label "imports besides Windows' (expected)" --label "imports besides Windows' ($dll)" \
	<(echo "$wanted") <(echo "$others"); then
	status=1
fi
echo "$dll: $(echo "$exported" | grep -c .) exports; imports $(echo $imports)"
exit $status
