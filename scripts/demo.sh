#!/usr/bin/env bash
# The main job out of the box: starts the demo book site on 127.0.0.1, downloads its book with
# kestrelon-cli, stops the site and says where the book was written.
# Usage: scripts/demo.sh [build-folder]
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir="${1:-build}"
app="$build_dir/app"
port=8917
books="$build_dir/books"

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "demo: port $port is already in use; stop whatever listens there and try again." >&2
    exit 1
fi

"$app/kestrelon-demo-site" --port "$port" &
site=$!
trap 'kill "$site" 2>/dev/null || true; wait "$site" 2>/dev/null || true' EXIT

for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        break
    fi
    sleep 0.1
done

mkdir -p "$books"
"$app/kestrelon-cli" --settings "$app/Kestrelon.ini" --out "$books" --overwrite \
    "http://127.0.0.1:$port/book/1/"
echo "demo: the book was written to $(cd "$books" && pwd)/"
ls -l "$books"
