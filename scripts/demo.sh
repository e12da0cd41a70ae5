#!/usr/bin/env bash
# The main job out of the box: starts the demo book site on 127.0.0.1, downloads its book with
# kestrelon-cli, then the same book from the demo forum through the Quorvel plug-in, stops the
# site and says where the books were written.
# Usage: scripts/demo.sh [build-folder]
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir="${1:-build}"
app="$build_dir/app"
port=8917
books="$build_dir/books"

# shellcheck source=scripts/demosite.sh
source scripts/demosite.sh
start_demo_site "$app" "$port"

mkdir -p "$books"
"$app/kestrelon-cli" --settings "$app/Kestrelon.ini" --out "$books" --overwrite \
    "http://127.0.0.1:$port/book/1/"
# The forum thread through the plug-in: for a plug-in site the range boxes carry its parameters,
# here the author filter (--from; empty: the thread's author) and the shortest post kept (--to).
# Its settings come fresh from the template, so an app folder whose settings file is older than
# the forum runs it too.
forum_settings="$build_dir/demo-forum.ini"
rm -f "$forum_settings"
"$app/kestrelon-demo-site" --port "$port" --write-settings "$forum_settings"
"$app/kestrelon-cli" --settings "$forum_settings" --out "$books" --overwrite \
    --from "" --to 100 "http://localhost:$port/thread/1/"
echo "demo: the books were written to $(cd "$books" && pwd)/"
ls -l "$books"
