#!/usr/bin/env bash
# The portable tarball (scripts/build-portable.sh) and its install.sh, run as
# a user runs them, in a temporary home:
#   - the tarball holds exactly the plug-in folder, the install script, the
#     licences and the notice, which lists the decoders and parsers of its
#     FFmpeg configure line, H.265's among them;
#   - install.sh installs the plug-in folder, byte for byte, for a
#     distribution's OBS (XDG_CONFIG_HOME respected, ~/.config without it)
#     and, when ~/.var/app/com.obsproject.Studio exists or flatpak says OBS
#     is installed (a stand-in flatpak command), for the Flatpak too, saying
#     which;
#   - run again it upgrades: a file an older version installed and this one
#     no longer ships goes;
#   - --uninstall removes exactly what it installed: the remembered language
#     and another plug-in stay.
#   check-tarball.sh TARBALL
# Ends with "tarball: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
tarball=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$repo/scripts/lib/common.sh"
same_lines() { [ "$1" = "$2" ] || { printf 'want:\n%s\ngot:\n%s\n' "$1" "$2"; return 1; }; }
files_under() { [ -d "$1" ] && (cd "$1" && find . ! -type d | sed 's|^\./||' | sort); }

version=$(ostrelin_version)
name=ostrelin-$version-linux-x86_64
plugin_files=$( (echo bin/64bit/ostrelin.so data/manifest.json | tr ' ' '\n'
	cd "$repo" && ls data/locale/*.ini) | sort)
check "it is named $name.tar.xz" test "${tarball##*/}" = "$name.tar.xz"
check "it holds exactly the plug-in folder, install.sh, the licences and the notice" same_lines \
	"$( (printf '%s\n' install.sh LICENSE.txt COPYING.LGPLv2.1.txt NOTICE.txt; sed 's|^|ostrelin/|' <<<"$plugin_files") |
		sed "s|^|$name/|" | sort)" "$(tar -tf "$tarball" | grep -v '/$' | sort)"
tar -C "$work" -xf "$tarball"
unpacked=$work/$name
check "the notice names FFmpeg's version and configure line" \
	grep -qE '^ostrelin\.so contains FFmpeg [0-9]' "$unpacked/NOTICE.txt"
check "the notice lists the decoders and parsers its FFmpeg configure line enables, H.265's among them" \
	notice_lists_hevc "$unpacked/NOTICE.txt"
check "the manifest names Ostrelin $version" grep -q "\"version\": \"$version\"" "$unpacked/ostrelin/data/manifest.json"

home=$work/home
config=$work/config
mkdir -p "$home"
as_user() { env -i PATH=/usr/bin:/bin HOME="$home" "$@" sh "$unpacked/install.sh" "${args[@]}" </dev/null >"$work/out" 2>&1; }
installed_as_shipped() { diff -r "$unpacked/ostrelin" "$1" >/dev/null; }

args=()
check "install with XDG_CONFIG_HOME set" as_user XDG_CONFIG_HOME="$config"
check "the plug-in folder is the tarball's, byte for byte" installed_as_shipped "$config/obs-studio/plugins/ostrelin"
check "nothing lands in HOME then" same_lines "" "$(files_under "$home")"
check "it says where" grep -q "installed for OBS Studio: $config/obs-studio/plugins/ostrelin" "$work/out"

flatpak=$home/.var/app/com.obsproject.Studio/config/obs-studio/plugins/ostrelin
# The Flatpak OBS installed but never started: no ~/.var folder yet, only
# Flatpak knows it (a stand-in flatpak command, for "installed" and not).
standin=$work/flatpak-bin
mkdir -p "$standin"
for verdict in installed missing; do
	status=0
	[ "$verdict" = installed ] || status=1
	printf '#!/bin/sh\n[ "$1 $2" = "info com.obsproject.Studio" ] && exit %s\nexit 1\n' "$status" >"$standin/flatpak"
	chmod +x "$standin/flatpak"
	rm -rf "$home/.var" "$config"
	check "with Flatpak saying OBS is $verdict, install succeeds" as_user PATH="$standin:/usr/bin:/bin" \
		XDG_CONFIG_HOME="$config"
	if [ "$verdict" = installed ]; then
		check "an installed Flatpak never started still gets the plug-in, byte for byte" installed_as_shipped "$flatpak"
	else
		check "a Flatpak that is not installed gets nothing" test ! -e "$home/.var"
	fi
done
rm -rf "$home/.var" "$config"

mkdir -p "$home/.var/app/com.obsproject.Studio" "$home/.config/obs-studio"
check "install beside the Flatpak" as_user
check "into the Flatpak's plug-in folder, byte for byte" installed_as_shipped "$flatpak"
check "and into ~/.config's, byte for byte" installed_as_shipped "$home/.config/obs-studio/plugins/ostrelin"
check "it says both" test "$(grep -c '^installed for ' "$work/out")" -eq 2

echo 'Old="old"' >"$flatpak/data/locale/xx-XX.ini"
echo zh-TW >"$work/language.txt"
mkdir -p "$home/.var/app/com.obsproject.Studio/config/obs-studio/plugin_config/ostrelin" \
	"$home/.var/app/com.obsproject.Studio/config/obs-studio/plugins/other"
cp "$work/language.txt" "$home/.var/app/com.obsproject.Studio/config/obs-studio/plugin_config/ostrelin/"
echo other >"$home/.var/app/com.obsproject.Studio/config/obs-studio/plugins/other/other.so"
check "run again, it upgrades" as_user
check "an older version's file goes on upgrade" installed_as_shipped "$flatpak"

args=(--uninstall)
check "--uninstall" as_user
check "--uninstall keeps language.txt and another plug-in, and nothing else" same_lines \
	"$(printf '%s\n' .var/app/com.obsproject.Studio/config/obs-studio/plugin_config/ostrelin/language.txt \
		.var/app/com.obsproject.Studio/config/obs-studio/plugins/other/other.so | sort)" "$(files_under "$home")"
check "--uninstall removes the plug-in folders" test ! -e "$flatpak" -a ! -e "$home/.config/obs-studio/plugins/ostrelin"
args=(--bogus)
check "an unknown option is refused with status 2" bash -c "$(declare -f as_user); home='$home' unpacked='$unpacked' work='$work' args=(--bogus); as_user; test \$? -eq 2"
checks_summary tarball
