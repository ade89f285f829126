#!/usr/bin/env bash
# scripts/install.sh and scripts/uninstall.sh on the module built in the
# folder given as $1: per user into a temporary XDG_CONFIG_HOME (and HOME),
# system-wide into a temporary DESTDIR. Checks the exact files, byte for byte,
# a second install, the removal, and that what is not theirs stays.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$1
module="$build/ostrelin.so"
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrelin-install-test-XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$repo/scripts/lib/common.sh"

# Files (not folders) under a folder, relative, sorted.
files_under() {
	[ -d "$1" ] || return 0
	(cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | sort
}
same_lines() { [ "$1" = "$2" ] || { printf 'want:\n%s\ngot:\n%s\n' "$1" "$2"; return 1; }; }
locales=$(cd "$repo/data/locale" && ls -- *.ini)

run_user() { env HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$@" </dev/null >"$work/out" 2>&1; }

# --- per user ---
plugin="obs-studio/plugins/ostrelin"
# The per-user files, under a prefix ("" for XDG_CONFIG_HOME, .config/ for HOME).
user_files() {
	(echo "$1$plugin/bin/64bit/ostrelin.so" "$1$plugin/data/manifest.json" | tr ' ' '\n'
		for f in $locales; do echo "$1$plugin/data/locale/$f"; done) | sort
}
want_user=$(user_files "")

check "install --user succeeds" run_user "$repo/scripts/install.sh" --user --build-dir "$build"
check "install --user puts exactly the module, the locale files and the manifest" same_lines "$want_user" "$(files_under "$work/config")"
check "the installed module is the built one" cmp -s "$module" "$work/config/$plugin/bin/64bit/ostrelin.so"
check "the installed module is executable" test -x "$work/config/$plugin/bin/64bit/ostrelin.so"
for f in $locales; do
	check "locale $f is the repo's" cmp -s "$repo/data/locale/$f" "$work/config/$plugin/data/locale/$f"
done
check "nothing written to HOME when XDG_CONFIG_HOME is set" same_lines "" "$(files_under "$work/home")"
check "install --user a second time succeeds" run_user "$repo/scripts/install.sh" --build-dir "$build"
check "a second install leaves the same files" same_lines "$want_user" "$(files_under "$work/config")"

# What is not the installer's: another plug-in, the remembered language.
mkdir -p "$work/config/obs-studio/plugins/other/bin/64bit" "$work/config/obs-studio/plugin_config/ostrelin"
echo other >"$work/config/obs-studio/plugins/other/bin/64bit/other.so"
echo zh-TW >"$work/config/obs-studio/plugin_config/ostrelin/language.txt"
foreign=$(printf '%s\n' obs-studio/plugin_config/ostrelin/language.txt obs-studio/plugins/other/bin/64bit/other.so)

check "uninstall --user succeeds" run_user "$repo/scripts/uninstall.sh" --user
check "uninstall --user removes only the installed files" same_lines "$foreign" "$(files_under "$work/config")"
check "uninstall --user removes the plug-in's folder" test ! -e "$work/config/$plugin"
check "uninstall --user again succeeds" run_user "$repo/scripts/uninstall.sh"
check "uninstall --user again says there is nothing" grep -q "nothing to remove" "$work/out"
check "uninstall --user --purge succeeds" run_user "$repo/scripts/uninstall.sh" --user --purge
check "--purge removes language.txt and its folder, nothing else" \
	same_lines "obs-studio/plugins/other/bin/64bit/other.so" "$(files_under "$work/config")"
check "--purge removes the plug-in's config folder" test ! -e "$work/config/obs-studio/plugin_config/ostrelin"

# Without XDG_CONFIG_HOME: ~/.config.
check "install without XDG_CONFIG_HOME succeeds" \
	env -u XDG_CONFIG_HOME HOME="$work/home" "$repo/scripts/install.sh" --build-dir "$build" </dev/null >/dev/null
check "install without XDG_CONFIG_HOME uses ~/.config" \
	same_lines "$(user_files .config/)" "$(files_under "$work/home")"
check "uninstall without XDG_CONFIG_HOME succeeds" \
	env -u XDG_CONFIG_HOME HOME="$work/home" "$repo/scripts/uninstall.sh" </dev/null >/dev/null
check "uninstall without XDG_CONFIG_HOME removes it all" same_lines "" "$(files_under "$work/home")"

# --- system-wide, into DESTDIR; the module goes beside libobs's own plug-ins ---
# The folder of the libobs the module loads: pkg-config's libdir is no guide
# (Debian's libobs 32 packages say /usr/lib there).
libdir=$(dirname "$(realpath "$(ldd "$module" | awk '$1 ~ /^libobs\.so/ { print $3 }')")")
root="$work/root"
want_system=$( (echo "${libdir#/}/obs-plugins/ostrelin.so"
	echo "usr/share/obs/obs-plugins/ostrelin/manifest.json"
	for f in $locales; do echo "usr/share/obs/obs-plugins/ostrelin/locale/$f"; done) | sort)
check "install --system succeeds" \
	env DESTDIR="$root" "$repo/scripts/install.sh" --system --build-dir "$build" </dev/null >/dev/null
check "install --system puts exactly the module, the locale files and the manifest" \
	same_lines "$want_system" "$(files_under "$root")"
check "the system module is the built one" cmp -s "$module" "$root$libdir/obs-plugins/ostrelin.so"
mkdir -p "$root/usr/share/obs/obs-plugins/other"
echo x >"$root/usr/share/obs/obs-plugins/other/keep"
check "uninstall --system succeeds" env DESTDIR="$root" "$repo/scripts/uninstall.sh" --system </dev/null >/dev/null
check "uninstall --system removes only the installed files" \
	same_lines "usr/share/obs/obs-plugins/other/keep" "$(files_under "$root")"
check "uninstall --system removes the plug-in's data folder" test ! -e "$root/usr/share/obs/obs-plugins/ostrelin"

# --- building first, where Ninja is missing (the presets name it): Makefiles ---
nobin="$work/no-ninja-bin"
mkdir -p "$nobin"
for tool in /usr/bin/*; do [ "${tool##*/}" = ninja ] || ln -s "$tool" "$nobin/"; done
check "with no ninja on PATH, install --user builds the module with Makefiles and installs it" \
	env PATH="$nobin" HOME="$work/fresh-home" XDG_CONFIG_HOME="$work/fresh-config" "$repo/scripts/install.sh" \
	--build-dir "$work/fresh-build" </dev/null >/dev/null 2>&1
check "that build is a Makefiles build" test -f "$work/fresh-build/Makefile"
check "and its module is installed" test -x "$work/fresh-config/$plugin/bin/64bit/ostrelin.so"

# --- refusals ---
check "install refuses an unknown option" run_user bash -c "'$repo/scripts/install.sh' --bogus; test \$? -eq 2"
check "uninstall refuses an unknown option" run_user bash -c "'$repo/scripts/uninstall.sh' --bogus; test \$? -eq 2"
check "nothing installed by a refused run" same_lines "obs-studio/plugins/other/bin/64bit/other.so" \
	"$(files_under "$work/config")"

checks_summary "install script checks"
