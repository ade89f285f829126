#!/usr/bin/env bash
# The plug-in inside a real OBS Studio, end to end.
#
#   run.sh PLUGIN.so SENDER LOG_TEXTS.py
#   run.sh --installed SENDER LOG_TEXTS.py
#   run.sh --tarball TARBALL SENDER LOG_TEXTS.py
#   run.sh --tarball-flatpak TARBALL SENDER LOG_TEXTS.py
#   run.sh --refused PLUGIN.so TEXT LOG_TEXTS.py
#
# The first form installs PLUGIN.so for the user (see below); the second runs
# the module a package installed system-wide, beside libobs's own plug-ins,
# and installs nothing. --tarball unpacks the portable tarball
# (scripts/build-portable.sh) and installs its plug-in folder with the
# tarball's own install.sh, as a user does, then checks the installed folder
# is the tarball's, byte for byte; --tarball-flatpak does the same for the OBS
# Flatpak: the user's home holds ~/.var/app/com.obsproject.Studio, and OBS
# runs with XDG_CONFIG_HOME in there, as inside the Flatpak. --refused
# installs PLUGIN.so for the user and checks that OBS refuses it, with TEXT in
# its log, and runs on without it.
#
# LOG_TEXTS.py is the plug-in's log texts as a Python module, generated from
# src/log/log-texts.h by the build (cmake/log-texts-py.cmake).
#
# Installs the plug-in into the per-user plug-in folder of a fresh, isolated
# OBS configuration (first-run wizard skipped, one empty scene, obs-websocket
# on port 4455 without authentication), then runs check.py under a virtual
# display inside its own network namespace (loopback only, so neither OBS's
# websocket server nor its online look-ups reach any network) and its own
# process group (so no process outlives the test, whatever way it ends).
#
# OSTRELIN_UPDATE_SCREENSHOT=1 saves the screen to docs/obs-screenshot.png;
# otherwise it stays in the temporary folder. OSTRELIN_KEEP_TEMP=1 keeps that
# folder (logs, sender output, pictures) for a look afterwards.
# OSTRELIN_SENDER_CODEC=h265 has the sender send H.265 instead of H.264.
# OSTRELIN_OBS_LD_DEBUG=PREFIX records OBS's symbol bindings (LD_DEBUG) in
# files PREFIX.<pid>.
set -euo pipefail

if [ $# -ne 3 ] && [ $# -ne 4 ]; then
	echo "usage: $0 PLUGIN.so|--installed|--tarball TARBALL|--tarball-flatpak TARBALL|--refused PLUGIN.so ... (see the header)" >&2
	exit 2
fi
installed=""
form=plugin
tarball=""
refused=""
case "$1" in
--installed)
	form=installed
	shift
	# Beside the plug-ins of the libobs that OBS runs. awk reads the whole
	# list: leaving early would end ldconfig with SIGPIPE, and pipefail with
	# set -e would then end this script silently.
	libobs=$(ldconfig -p | awk '$1 == "libobs.so.0" && !found { print $NF; found = 1 }')
	[ -n "$libobs" ] || { echo "FAIL: libobs is not installed"; exit 1; }
	installed=$(dirname "$(realpath "$libobs")")/obs-plugins/ostrelin.so
	plugin=$installed
	;;
--tarball | --tarball-flatpak)
	form=${1#--}
	tarball=$(realpath "$2")
	shift 2
	plugin=""
	;;
--refused)
	form=refused
	plugin=$(realpath "$2")
	refused=$3
	shift 3
	set -- /bin/true "$@"
	;;
*)
	plugin=$(realpath "$1")
	shift
	;;
esac
[ $# -eq 2 ] || { echo "usage: see the header of $0" >&2; exit 2; }
sender=$(realpath "$1")
log_texts=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
screen_size=1920x1080

fail() {
	echo "FAIL: $*"
	exit 1
}

obs=$(command -v obs || true)
[ -n "$obs" ] || fail "OBS Studio is not installed (no 'obs' program; Debian package obs-studio, see scripts/setup.sh)"
for tool in xvfb-run unshare setsid ip import convert; do
	command -v "$tool" >/dev/null || fail "'$tool' is missing (see scripts/setup.sh)"
done
/usr/bin/python3 -c 'import websocket' 2>/dev/null || fail "python3-websocket is missing (see scripts/setup.sh)"
if [ -n "$tarball" ]; then
	[ -f "$tarball" ] || fail "no tarball at $tarball"
else
	[ "$(basename "$plugin")" = ostrelin.so ] && [ -f "$plugin" ] || fail "no plug-in at $plugin"
fi
[ -x "$sender" ] || fail "no sender at $sender"
[ "$(basename "$log_texts")" = log_texts.py ] && [ -f "$log_texts" ] || fail "no log texts module at $log_texts (built from src/log/log-texts.h)"
[ "$(id -u)" -eq 0 ] || fail "needs root, for its own network namespace (unshare -n)"

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrelin-real-obs.XXXXXX")
group=""
# Everything the check starts runs in one process group of its own: the
# display, OBS, the sender. Whatever way this script ends, none of it stays.
stop_group() {
	[ -n "$group" ] || return 0
	kill -TERM -- "-$group" 2>/dev/null || return 0
	local tries=100
	while [ $tries -gt 0 ] && kill -0 -- "-$group" 2>/dev/null; do
		sleep 0.1
		tries=$((tries - 1))
	done
	kill -KILL -- "-$group" 2>/dev/null || true
}
cleanup() {
	stop_group
	if [ "${OSTRELIN_KEEP_TEMP:-0}" = 1 ]; then
		echo "kept $work"
	else
		rm -rf "$work"
	fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

config="$work/config"
if [ "$form" = tarball-flatpak ]; then
	# Where the Flatpak keeps OBS's configuration: its XDG_CONFIG_HOME.
	config="$work/home/.var/app/com.obsproject.Studio/config"
fi
obs_config="$config/obs-studio"
mkdir -p "$obs_config/basic/profiles/Ostrelin" "$obs_config/basic/scenes" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
echo "ok: $(HOME="$work/home" XDG_CONFIG_HOME="$config" "$obs" --version 2>/dev/null </dev/null | head -n 1) at $obs"

cat >"$obs_config/global.ini" <<'EOF'
[General]
FirstRun=true
EnableAutoUpdates=false

[Basic]
Profile=Ostrelin
ProfileDir=Ostrelin
SceneCollection=Ostrelin
SceneCollectionFile=Ostrelin

[OBSWebSocket]
FirstLoad=false
ServerEnabled=true
ServerPort=4455
AuthRequired=false
AlertsEnabled=false
EOF
# OBS 31 and later read the first-run flag, the profile and the scene
# collection from user.ini (global.ini keeps only the program's own settings,
# and is copied to user.ini only when migrating from an older OBS's
# configuration): without it OBS 32 makes an "Untitled" profile and scene
# collection of its own. OBS 29 and 30 do not read user.ini (30.2.3's program
# does not name it) and take all of it from global.ini.
cp "$obs_config/global.ini" "$obs_config/user.ini"

cat >"$obs_config/basic/profiles/Ostrelin/basic.ini" <<'EOF'
[General]
Name=Ostrelin

[Video]
BaseCX=1280
BaseCY=720
OutputCX=1280
OutputCY=720
FPSType=0
FPSCommon=30

[Audio]
SampleRate=48000
ChannelSetup=Stereo
EOF

cat >"$obs_config/basic/scenes/Ostrelin.json" <<'EOF'
{
  "name": "Ostrelin",
  "current_scene": "Scene",
  "current_program_scene": "Scene",
  "scene_order": [{"name": "Scene"}],
  "sources": [
    {
      "id": "scene",
      "versioned_id": "scene",
      "name": "Scene",
      "settings": {"id_counter": 0, "custom_size": false, "items": []},
      "enabled": true,
      "muted": false,
      "mixers": 0,
      "flags": 0
    }
  ],
  "groups": [],
  "transitions": [],
  "current_transition": "Fade",
  "transition_duration": 300
}
EOF

plugin_dir="$obs_config/plugins/ostrelin"
if [ "$form" = installed ]; then
	[ -n "$(ls /usr/share/obs/obs-plugins/ostrelin/locale/*.ini 2>/dev/null)" ] ||
		fail "no language files in /usr/share/obs/obs-plugins/ostrelin/locale"
	echo "ok: plug-in installed system-wide: $installed"
elif [ -n "$tarball" ]; then
	# The tarball's install.sh, run as the user runs it: for a distribution's
	# OBS with XDG_CONFIG_HOME set; for the Flatpak from a plain session.
	mkdir -p "$work/unpacked"
	tar -C "$work/unpacked" -xf "$tarball"
	unpacked=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d | head -n 1)
	if [ "$form" = tarball ]; then
		install_env=(HOME="$work/home" XDG_CONFIG_HOME="$config")
	else
		install_env=(-u XDG_CONFIG_HOME HOME="$work/home")
	fi
	if ! output=$(env "${install_env[@]}" sh "$unpacked/install.sh" </dev/null 2>&1); then
		echo "$output"
		fail "the tarball's install.sh failed"
	fi
	echo "$output" | sed 's/^/    /'
	grep -qF "$plugin_dir" <<<"$output" || fail "install.sh did not say it installed into $plugin_dir"
	diff -r "$unpacked/ostrelin" "$plugin_dir" >/dev/null || fail "$plugin_dir is not the tarball's plug-in folder"
	echo "ok: the tarball's install.sh installed its plug-in folder, byte for byte, into $plugin_dir"
	installed=$plugin_dir/bin/64bit/ostrelin.so
else
	# Installed the way a user installs it for themselves, into the per-user
	# plug-in folder where OBS looks for it.
	if ! output=$(XDG_CONFIG_HOME="$config" "$repo/scripts/install.sh" --user --build-dir "$(dirname "$plugin")" \
		</dev/null 2>&1); then
		echo "$output"
		fail "scripts/install.sh --user failed"
	fi
	[ -f "$plugin_dir/bin/64bit/ostrelin.so" ] || fail "scripts/install.sh --user did not install $plugin_dir/bin/64bit/ostrelin.so"
	[ -n "$(ls "$plugin_dir"/data/locale/*.ini 2>/dev/null)" ] || fail "scripts/install.sh --user installed no language files"
	echo "ok: plug-in installed with scripts/install.sh --user in $plugin_dir"
	installed=$plugin_dir/bin/64bit/ostrelin.so
fi
check_options=()
[ -z "$refused" ] || check_options+=(--refused "$refused")
[ -z "${OSTRELIN_SENDER_CODEC:-}" ] || check_options+=(--sender-codec "$OSTRELIN_SENDER_CODEC")
[ -z "${OSTRELIN_OBS_LD_DEBUG:-}" ] || check_options+=(--ld-debug "$OSTRELIN_OBS_LD_DEBUG")

if [ "${OSTRELIN_UPDATE_SCREENSHOT:-0}" = 1 ]; then
	screenshot="$repo/docs/obs-screenshot.png"
	mkdir -p "$repo/docs"
else
	screenshot="$work/obs-screenshot.png"
fi

# HOME and the XDG folders point into the temporary folder too, so that
# nothing of this run lands in the user's own folders; OBS finds plug-ins
# only where it looks by itself. setsid makes the process group; unshare -n
# gives OBS a network of its own with loopback only.
env -u OBS_PLUGINS_PATH -u OBS_PLUGINS_DATA_PATH PYTHONPATH="$(dirname "$log_texts")" HOME="$work/home" XDG_CONFIG_HOME="$config" XDG_CACHE_HOME="$work/home/.cache" \
	XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime" \
	setsid unshare --net \
	sh -c 'size=$1; shift; ip link set lo up && exec xvfb-run -a -f "$0/xauthority" -s "-screen 0 ${size}x24" "$@"' \
	"$work" "$screen_size" \
	/usr/bin/python3 -B "$here/check.py" --obs "$obs" --sender "$sender" --config "$config" \
	--work "$work" --screenshot "$screenshot" --module "$installed" "${check_options[@]}" </dev/null &
group=$!
status=0
wait "$group" || status=$?
exit "$status"
