#!/usr/bin/env bash
# The OBS 32 root (Debian unstable, OBS 32.2.2, FFmpeg 9): scripts/debian-root.sh
# obs32, under the name earlier runs and notes know it by.
#   obs32-root.sh make | check | run CMD...
exec "$(dirname "$0")/debian-root.sh" obs32 "$@"
