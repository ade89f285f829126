#!/usr/bin/env bash
# OBS as the Flatpak has it, simulated in a throwaway copy of the Debian
# unstable root (scripts/debian-root.sh obs32 try ...), and the portable
# tarball installed into it the way a Flatpak user installs it:
#   - libobs and the frontend's API library take the names OBS's own builds
#     and the Flatpak give them (libobs.so.30, libobs-frontend-api.so.30):
#     each library's SONAME is changed and every program and plug-in that
#     needs one is made to need the new name (patchelf); no libobs.so.0 is
#     left for the loader (libobs-opengl keeps its name: libobs opens it by
#     that name);
#   - a module that needs libobs.so.0 (this root's regular build) is refused
#     by that OBS, as the Flatpak refuses one: the simulation holds;
#   - the tarball's install.sh, run from a home that holds
#     ~/.var/app/com.obsproject.Studio, installs into the Flatpak's plug-in
#     folder, and OBS, run with the Flatpak's XDG_CONFIG_HOME, passes the
#     real-OBS test with it.
#   flatpak-like.sh TARBALL SENDER LOG_TEXTS.py OLD_MODULE.so
# Ends with "flatpak-like: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tarball=$1 sender=$2 log_texts=$3 old_module=$4
lib=/usr/lib/x86_64-linux-gnu
CHECKS_SAY_OK=yes
. "$here/../../scripts/lib/common.sh"

rename_libraries() {
	local name file
	for name in libobs libobs-frontend-api; do
		[ -f "$lib/$name.so.0" ] && [ ! -L "$lib/$name.so.0" ] || continue
		rm -f "$lib/$name.so.30"
		mv "$lib/$name.so.0" "$lib/$name.so.30"
		patchelf --set-soname "$name.so.30" "$lib/$name.so.30" || return 1
		ln -sfn "$name.so.30" "$lib/$name.so"
		echo "    $name.so.0 -> $name.so.30"
	done
	# Every program and library that names one of them, by the new name.
	grep -rlsE --binary-files=binary 'libobs(-frontend-api)?\.so\.0' /usr/bin "$lib" | while read -r file; do
		for name in $(patchelf --print-needed "$file" 2>/dev/null | grep -E '^libobs(-frontend-api)?\.so\.0$'); do
			patchelf --replace-needed "$name" "${name%.0}.30" "$file" || exit 1
		done
	done || return 1
	ldconfig
}
no_old_name() {
	local cache
	cache=$(ldconfig -p)
	! grep -E 'libobs(-frontend-api)?\.so\.0 ' <<<"$cache" &&
		[ -z "$(find / -xdev \( -name libobs.so.0 -o -name libobs-frontend-api.so.0 \) 2>/dev/null)" ]
}
obs_needs_new_name() {
	local libraries
	libraries=$(ldd "$(command -v obs)")
	grep -q '^	libobs\.so\.30 => /' <<<"$libraries" && ! grep -q 'not found' <<<"$libraries"
}

check "libobs and the frontend API renamed as the Flatpak names them" rename_libraries
check "no libobs.so.0 is left for the loader" no_old_name
check "OBS needs libobs.so.30 and finds it" obs_needs_new_name
check "a module that needs libobs.so.0 is refused by this OBS" bash "$here/../real-obs/run.sh" --refused \
	"$old_module" "libobs.so.0: cannot open shared object file" "$log_texts"
check "the tarball, installed into the Flatpak's plug-in folder, passes the real-OBS test" \
	bash "$here/../real-obs/run.sh" --tarball-flatpak "$tarball" "$sender" "$log_texts"
checks_summary flatpak-like
