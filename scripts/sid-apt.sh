#!/usr/bin/env bash
# apt-get against Debian unstable ("sid") through a private configuration:
# its sources, package lists and cache live in build/sid-apt; the system's apt
# configuration and state are only read. The mirror is the one the system's
# own Debian entries use, so every script that reaches unstable (this one, the
# unstable root) takes it from here.
#   sid-apt.sh --mirror             prints that mirror's URL
#   sid-apt.sh <apt-get arguments>  e.g. download libobs-dev=32.2.2+ds-1, in
#                                   the current folder; updates the lists first
#                                   when there are none
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The first URI of a Debian archive (not its security archive) in the system's
# deb822 files or one-line lists.
mirror() {
	{
		sed -nE 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | tr ' ' '\n' || true
		sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/p' \
			/etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true
	} | grep -E '^[a-z]+://[^[:space:]]+/debian/?$' | head -n 1 | sed 's:/$::'
}

url=$(mirror)
if [ -z "$url" ]; then
	echo "sid-apt.sh: no Debian archive among the system's apt sources" >&2
	exit 1
fi
if [ "${1:-}" = --mirror ]; then
	echo "$url"
	exit 0
fi

dir=$root/build/sid-apt
mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/parts" "$dir/preferences"
printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s sid main\ndeb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s sid main\n' \
	"$url" "$url" >"$dir/sources.list"
options=(-o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/parts"
	-o Dir::Etc::Preferences="$dir/preferences/none" -o Dir::Etc::PreferencesParts="$dir/preferences"
	-o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" -o Acquire::Check-Valid-Until=false
	-o APT::Sandbox::User=root)
if ! ls "$dir"/lists/*_InRelease >/dev/null 2>&1; then
	apt-get "${options[@]}" update -qq </dev/null >&2
fi
exec apt-get "${options[@]}" "$@" </dev/null
