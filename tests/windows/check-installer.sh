#!/usr/bin/env bash
# Tests the Windows installer under Wine, in the Windows test build's Wine
# prefix: with obs64.exe running a silent install gives up and writes nothing;
# a silent install puts exactly the plug-in's files into
# %ProgramData%\obs-studio\plugins\ostrelin (the notice listing the decoders
# and parsers of its FFmpeg configure line) and registers its uninstaller; the
# stand-in OBS loader (dll-e2e installed, beside the libobs 29 stand-in) finds
# the module there, as OBS builds the path, and loads it; a second install
# upgrades in place; a silent uninstall removes everything the installer put
# there and nothing else (a user's language.txt under %APPDATA% stays).
# The last line reads "installer: N passed, M failed".
#   check-installer.sh <windows test build> <ostrelin.dll> <setup.exe>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
dll=$2
setup=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")

. "$root/tests/windows/wine-env.sh" "$build" server

. "$root/scripts/lib/common.sh"
# count WHAT STATUS: a check whose command has already run.
count() {
	if [ "$2" -eq 0 ]; then
		checks_add 1 0
		echo "installer: $1: ok"
	else
		checks_add 0 1
		echo "installer: $1: FAILED"
	fi
}

# A Windows folder of the prefix as a Linux path.
folder() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')" 2>/dev/null; }
program_data=$(folder ProgramData)
app_data=$(folder APPDATA)
inst=$program_data/obs-studio/plugins/ostrelin
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ostrelin'
version=$(ostrelin_version)

# What an earlier run may have left.
rm -rf "$inst"
rmdir "$program_data/obs-studio/plugins" "$program_data/obs-studio" 2>/dev/null
wine reg delete "$key" /f >/dev/null 2>&1

tree() { (cd "$1" 2>/dev/null && find . -mindepth 1 | sort); }
reg_value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v name="$1" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
# The uninstaller copies itself away and returns at once; the files go soon after.
wait_gone() {
	for _ in $(seq 150); do
		[ -e "$1" ] || return 0
		sleep 0.2
	done
	return 1
}

before=$(tree "$program_data")
expected=$(
	{
		echo ./bin ./bin/64bit ./bin/64bit/ostrelin.dll ./data ./data/locale ./data/manifest.json
		for ini in "$root"/data/locale/*.ini; do echo "./data/locale/$(basename "$ini")"; done
		echo ./COPYING.LGPLv2.1.txt ./LICENSE.txt ./NOTICE.txt ./uninstall.exe
	} | tr ' ' '\n' | sort
)

# OBS running: silent mode gives up before touching anything.
running=$build/obs64-running
rm -f "$running"
wine "$build/obs64.exe" 60 "Z:${running//\//\\}" </dev/null >/dev/null 2>&1 &
obs=$!
for _ in $(seq 150); do
	[ -e "$running" ] && break
	sleep 0.2
done
wine "$setup" /S </dev/null >/dev/null 2>&1
code=$?
kill "$obs" 2>/dev/null
wait "$obs" 2>/dev/null
[ "$code" -ne 0 ] && [ ! -e "$inst" ]
count "with obs64.exe running, /S exits with $code and installs nothing" $?

wine "$setup" /S </dev/null >/dev/null 2>&1
code=$?
[ "$code" -eq 0 ]
count "silent install exits with 0" $?
diff -u --label expected --label installed <(echo "$expected") <(tree "$inst")
count "it installs exactly the DLL, the locale files, the licences and the uninstaller" $?
cmp -s "$dll" "$inst/bin/64bit/ostrelin.dll"
count "the installed DLL is the one built" $?
notice_lists_hevc "$inst/NOTICE.txt"
count "the notice lists the decoders and parsers its FFmpeg configure line enables, H.265's among them" $?
[ "$(reg_value DisplayVersion)" = "$version" ] &&
	[ "$(reg_value QuietUninstallString)" = "\"C:\\ProgramData\\obs-studio\\plugins\\ostrelin\\uninstall.exe\" /S" ]
count "the uninstaller is registered ($(reg_value DisplayName) $(reg_value DisplayVersion))" $?

started=$SECONDS
(cd "$build/obs29" && timeout 120 wine ./dll-e2e.exe installed 0 NUL </dev/null >"$build/installed-e2e.log" 2>&1)
code=$?
if [ "$code" -eq 0 ]; then
	tail -n 1 "$build/installed-e2e.log"
else
	# All it printed, to tell a failed check from a program that never ran.
	echo "dll-e2e installed: exit $code after $((SECONDS - started)) s; its output:"
	sed 's/^/  /' "$build/installed-e2e.log"
fi
count "the stand-in loader finds and loads the module from ProgramData" $code

# An earlier version's locale file that this one no longer ships goes.
echo 'Old="old"' >"$inst/data/locale/xx-XX.ini"
wine "$setup" /S </dev/null >/dev/null 2>&1
code=$?
[ "$code" -eq 0 ] && diff -u --label expected --label upgraded <(echo "$expected") <(tree "$inst")
count "installed again, it upgrades in place" $?

language=$app_data/obs-studio/plugin_config/ostrelin/language.txt
had_language=0
[ -e "$language" ] && had_language=1
mkdir -p "$(dirname "$language")"
echo de-DE >"$language"
wine "$inst/uninstall.exe" /S </dev/null >/dev/null 2>&1
wait_gone "$inst"
diff -u --label "ProgramData before" --label "ProgramData after" <(echo "$before") <(tree "$program_data")
count "silent uninstall removes everything the installer put in ProgramData" $?
! wine reg query "$key" >/dev/null 2>&1
count "the uninstaller is no longer registered" $?
[ "$(cat "$language" 2>/dev/null)" = de-DE ]
count "the user's language.txt under %APPDATA% stays" $?
[ "$had_language" -eq 1 ] || rm -f "$language"

checks_summary installer
