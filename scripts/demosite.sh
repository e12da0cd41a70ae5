# Sourced by the scripts that need the demo site: start_demo_site APP_FOLDER PORT starts it in
# the background, stops it when the calling script exits, and returns once it answers.

start_demo_site() {
    local app="$1" port="$2"
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "port $port is already in use; stop whatever listens there and try again." >&2
        exit 1
    fi
    "$app/kestrelon-demo-site" --port "$port" &
    demo_site_pid=$!
    trap 'kill "$demo_site_pid" 2>/dev/null || true; wait "$demo_site_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 1 100); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "the demo site did not start on port $port." >&2
    exit 1
}
