# The Wine set-up of the Windows tests, in the Windows test build folder $1;
# sourced. A prefix made there on first use (about 15 s), no display, no
# offer to install .NET or a browser engine. With "server", also one
# wineserver for the whole script, ended when it exits: a program started
# just as an idle server shuts itself down loses its connection ("recvmsg:
# Connection reset by peer").
export WINEPREFIX="$1/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ "${2:-}" = server ]; then
	mkdir -p "$WINEPREFIX"
	# A server the script before ended may still be going away: this
	# script's own starts only once it is gone (at most 30 s).
	timeout 30 wineserver -w 2>/dev/null || true
	wineserver -p
	trap 'wineserver -k 2>/dev/null || true' EXIT
fi
