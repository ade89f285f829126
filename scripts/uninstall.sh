#!/usr/bin/env bash
# Removes what scripts/install.sh installed, and nothing else.
#
#   scripts/uninstall.sh [--user | --system] [--purge]
#
#   --user    (default) from $XDG_CONFIG_HOME/obs-studio/plugins/ostrelin/
#             ($XDG_CONFIG_HOME defaults to ~/.config)
#   --system  from $DESTDIR/usr/lib/<multiarch>/obs-plugins/ and
#             $DESTDIR/usr/share/obs/obs-plugins/ostrelin/
#   --purge   also remove the interface language the plug-in remembers for
#             the current user ($XDG_CONFIG_HOME/obs-studio/plugin_config/
#             ostrelin/language.txt); without it that file stays
#
# Folders are removed only when nothing else is left in them.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
layout=user
purge=false
while [ $# -gt 0 ]; do
	case "$1" in
	--user) layout=user ;;
	--system) layout=system ;;
	--purge) purge=true ;;
	-h | --help)
		sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
		exit 0
		;;
	*)
		echo "uninstall.sh: unknown option $1 (see --help)" >&2
		exit 2
		;;
	esac
	shift
done

config_home="${XDG_CONFIG_HOME:-$HOME/.config}"
if [ "$layout" = user ]; then
	plugin_dir="$config_home/obs-studio/plugins/ostrelin"
	module_dest="$plugin_dir/bin/64bit/ostrelin.so"
	locale_dest="$plugin_dir/data/locale"
	# Innermost first; the plug-in's own folder is the last one removed.
	folders=("$locale_dest" "$plugin_dir/data" "$plugin_dir/bin/64bit" "$plugin_dir/bin" "$plugin_dir")
else
	multiarch=$(gcc -print-multiarch 2>/dev/null || true)
	module_dest="${DESTDIR:-}/usr/lib/${multiarch:-x86_64-linux-gnu}/obs-plugins/ostrelin.so"
	locale_dest="${DESTDIR:-}/usr/share/obs/obs-plugins/ostrelin/locale"
	folders=("$locale_dest" "${locale_dest%/locale}")
fi

removed=0
remove_file() {
	if [ -e "$1" ] || [ -L "$1" ]; then
		rm -f -- "$1"
		echo "removed $1"
		removed=$((removed + 1))
	fi
}

remove_file "$module_dest"
remove_file "${locale_dest%/locale}/manifest.json"
for ini in "$repo"/data/locale/*.ini; do
	remove_file "$locale_dest/${ini##*/}"
done
for folder in "${folders[@]}"; do
	[ -d "$folder" ] && rmdir --ignore-fail-on-non-empty -- "$folder"
done

if $purge; then
	config_dir="$config_home/obs-studio/plugin_config/ostrelin"
	remove_file "$config_dir/language.txt"
	[ -d "$config_dir" ] && rmdir --ignore-fail-on-non-empty -- "$config_dir"
fi

if [ "$removed" -eq 0 ]; then
	echo "nothing to remove: Ostrelin is not installed there"
fi
