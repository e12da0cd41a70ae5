#!/usr/bin/env bash
# Makes docs/search.png: the window under Xvfb with the demo site's results for "灯塔", searched
# from the help page as a reader does (a click in the page, Tab to the search box, the title typed,
# Enter). Needs xvfb, xdotool and imagemagick (scripts/setup.sh installs them).
# Usage: scripts/search-screenshot.sh [build-folder]
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir="${1:-build}"
app="$build_dir/app"
port=8917
display=:97

# shellcheck source=scripts/demosite.sh
source scripts/demosite.sh
start_demo_site "$app" "$port"

Xvfb "$display" -screen 0 640x480x24 -nolisten tcp &
xvfb_pid=$!
window_pid=
# The demo site's own trap is replaced: this one stops all three.
trap 'kill $window_pid $xvfb_pid "$demo_site_pid" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 1 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done

# The window is killed at the end, so it never writes its options back to the settings file.
QT_QPA_PLATFORM=xcb "$app/Kestrelon" &
window_pid=$!
window=$(xdotool search --sync --onlyvisible --name '^Kestrelon$' | head -n 1)
sleep 3 # the help page loads
# A click on the page's blank right-hand margin, then Tab: the search box is its first field.
xdotool mousemove --window "$window" 296 200 click 1
xdotool key --window "$window" Tab
xdotool type --window "$window" --delay 100 '灯塔'
xdotool key --window "$window" Return
sleep 3 # the demo site answers at once
import -window "$window" docs/search.png
echo "search-screenshot: wrote docs/search.png"
