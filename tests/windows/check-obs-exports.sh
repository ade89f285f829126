#!/usr/bin/env bash
# Checks that every libobs function the Windows build imports
# (cmake/windows/obs.symbols) is exported by a given libobs: the functions in
# the dynamic symbol table of its libobs.so. Prints the missing names; exit 1
# when any.
#   check-obs-exports.sh <obs.symbols> <libobs.so>
set -euo pipefail
list=$1
library=$2

listed=$(grep -E '^[A-Za-z_]' "$list" | sort -u)
# Defined functions: T (text), W (weak), i (indirect); versions cut off.
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TWi]$/ {print $3}' | sed 's/@.*//' | sort -u)
missing=$(comm -23 <(echo "$listed") <(echo "$exported"))
if [ -n "$missing" ]; then
	echo "$list: not exported by $library:"
	echo "$missing" | sed 's/^/  /'
	exit 1
fi
echo "$list: all $(echo "$listed" | grep -c .) functions exported by $library"
