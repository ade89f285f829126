#!/bin/sh
# Installs Ostrelin for the current user into each OBS Studio it finds; no
# root needed. Run it from the unpacked folder (or give its path):
#
#   ./install.sh              install, or upgrade an earlier install
#   ./install.sh --uninstall  remove what it installed
#
# Where: the user plug-in folder of
#   - OBS from the distribution or built from source:
#       $XDG_CONFIG_HOME/obs-studio/plugins/ostrelin  ($XDG_CONFIG_HOME: ~/.config when unset)
#     when an "obs" program or that configuration exists, or no Flatpak does;
#   - the OBS Flatpak (com.obsproject.Studio), when ~/.var/app/com.obsproject.Studio exists
#     or "flatpak info com.obsproject.Studio" knows it (installed, never started yet):
#       ~/.var/app/com.obsproject.Studio/config/obs-studio/plugins/ostrelin
# The plug-in folder is this script's alone: an upgrade replaces its files,
# and --uninstall removes them and the folders left empty. The interface
# language the plug-in remembers (obs-studio/plugin_config/ostrelin/
# language.txt) stays either way. Quit OBS first, or restart it afterwards.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$here/ostrelin
action=install
case "${1:-}" in
"") ;;
--uninstall) action=uninstall ;;
-h | --help)
	sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'
	exit 0
	;;
*)
	echo "install.sh: unknown option $1 (see --help)" >&2
	exit 2
	;;
esac
if [ "$action" = install ] && [ ! -f "$source_dir/bin/64bit/ostrelin.so" ]; then
	echo "install.sh: no plug-in folder beside this script ($source_dir)" >&2
	exit 1
fi
: "${HOME:?install.sh: HOME is not set}"

native_config=${XDG_CONFIG_HOME:-$HOME/.config}
flatpak_app=$HOME/.var/app/com.obsproject.Studio
flatpak_config=$flatpak_app/config
# The Flatpak OBS: its folder, made when it first starts, or Flatpak's word
# that it is installed.
flatpak_found=no
if [ -d "$flatpak_app" ] || { command -v flatpak >/dev/null 2>&1 &&
	flatpak info com.obsproject.Studio >/dev/null 2>&1; }; then
	flatpak_found=yes
fi

# "label|plug-in folder" of each OBS found, one a line; a removal looks in
# both places.
targets() {
	if [ "$flatpak_found" = yes ] || [ "$action" = uninstall ]; then
		echo "the OBS Flatpak|$flatpak_config/obs-studio/plugins/ostrelin"
	fi
	if command -v obs >/dev/null 2>&1 || [ -d "$native_config/obs-studio" ] || [ "$flatpak_found" = no ] ||
		[ "$action" = uninstall ]; then
		echo "OBS Studio|$native_config/obs-studio/plugins/ostrelin"
	fi
}

# Removes the plug-in's files from a plug-in folder, then its folders once
# empty; anything else in them stays.
remove_files() {
	dir=$1
	rm -f "$dir/bin/64bit/ostrelin.so" "$dir/data/manifest.json"
	rm -f "$dir"/data/locale/*.ini
	for sub in data/locale data bin/64bit bin ""; do
		rmdir "$dir/$sub" 2>/dev/null || true
	done
}

# Copies the new files beside the folder first, then renames each into
# place: an OBS still running keeps the module it mapped, intact.
install_into() {
	dir=$1
	fresh=$(dirname "$dir")/.ostrelin-install.$$
	rm -rf "$fresh"
	mkdir -p "$(dirname "$dir")"
	cp -R "$source_dir" "$fresh"
	remove_files "$dir"
	(cd "$fresh" && find . -type d) | while IFS= read -r sub; do mkdir -p "$dir/$sub"; done
	(cd "$fresh" && find . ! -type d) | while IFS= read -r file; do mv -f "$fresh/$file" "$dir/$file"; done
	rm -rf "$fresh"
}

targets | while IFS='|' read -r label dir; do
	if [ "$action" = install ]; then
		install_into "$dir"
		echo "installed for $label: $dir"
	elif [ -e "$dir" ]; then
		remove_files "$dir"
		echo "removed from $label: $dir"
	fi
done
[ "$action" = uninstall ] || echo "Restart OBS Studio, then add the source: Sources > + > Ostrelin."
