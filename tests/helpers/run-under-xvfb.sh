#!/bin/sh
# Runs a test program on a private X server (Xvfb). Exits with the program's own status
# (xvfb-run would replace it by its own when its clean-up of the server fails); 77 (skipped)
# without xvfb-run. TESSORA_XVFB_SCREENS gives the server's screens instead of one 1280 x 1024.
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run is not installed" >&2; exit 77; }
status_file=$(mktemp) || exit 1
trap 'rm -f "$status_file"' EXIT
xvfb-run -a -s "${TESSORA_XVFB_SCREENS:--screen 0 1280x1024x24}" sh -c '"$@"; echo $? > "$0"' "$status_file" "$@"
xvfb_status=$?
status=$(cat "$status_file")
[ -n "$status" ] || status=$xvfb_status
exit "$status"
