#!/usr/bin/env bash
# Opens the window against the demo site: starts the demo book site on 127.0.0.1, starts
# Kestrelon with the demo book's contents address filled in, and stops the site when the window
# closes.
# Usage: scripts/run.sh [build-folder]
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir="${1:-build}"
app="$build_dir/app"
port=8917

# shellcheck source=scripts/demosite.sh
source scripts/demosite.sh
start_demo_site "$app" "$port"

"$app/Kestrelon" "http://127.0.0.1:$port/book/1/"
