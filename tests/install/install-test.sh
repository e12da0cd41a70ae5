#!/usr/bin/env bash
# The installed program as a Linux user meets it: installed into a DESTDIR and run by an
# unprivileged user with the program folder read-only, as a portable copy, the window started from
# the installed layout, the man page against --help, and lintian on the package.
# Usage: install-test.sh BUILD_FOLDER     (needs root to switch users; exits 77 to skip otherwise)
set -euo pipefail

build=$(cd "$1" && pwd)
if [[ $(id -u) -ne 0 ]] || ! command -v setpriv >/dev/null; then
    echo "SKIP: switching to an unprivileged user needs root and setpriv"
    exit 77
fi

work=$(mktemp -d)
site_pid=
window=
cleanup() {
    [[ -n $site_pid ]] && kill "$site_pid" 2>/dev/null || true
    [[ -n $window ]] && kill -- -"$window" 2>/dev/null || true
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
program="$work/root/usr/lib/kestrelon"
[[ -L $work/root/usr/bin/kestrelon-cli && -x $program/kestrelon-cli ]] || fail "layout"
chmod -R a-w "$work/root"
fingerprint() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
before=$(fingerprint "$program")

# An unprivileged user with a home of their own.
home="$work/home"
mkdir -p "$home" "$work/shelf"
chown nobody: "$home" "$work/shelf"
as_user() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$@"
}

port=$((20000 + RANDOM % 20000))
"$program/kestrelon-demo-site" --port "$port" >/dev/null 2>&1 &
site_pid=$!
for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
book="http://127.0.0.1:$port/book/1/"
section="$work/section.ini"
"$program/kestrelon-demo-site" --port "$port" --write-settings "$section"

# First start: the user's settings file is made from the shipped one, which names the demo site
# on its usual port; this port's site has no rules yet.
set +e
as_user "$work/root/usr/bin/kestrelon-cli" --out "$work/shelf" "$book" >/dev/null 2>&1
status=$?
set -e
[[ $status -eq 3 ]] || fail "an unknown site gave exit $status"
personal="$home/.config/kestrelon/Kestrelon.ini"
[[ -f $personal ]] || fail "no settings file under the user's XDG config folder"
cat "$section" >>"$personal"
as_user "$work/root/usr/bin/kestrelon-cli" --out "$work/shelf" "$book" >/dev/null 2>&1 ||
    fail "the installed program did not download the demo book"
ls "$work/shelf"/*.txt >/dev/null || fail "no book written"
[[ $(fingerprint "$program") == "$before" ]] || fail "the program folder changed"

# The window from the installed layout regenerates its help page in the user's data folder.
copy="$home/.local/share/kestrelon/help/index.htm"
# In a process group of its own: $! is only the subshell that runs as_user, and the group holds
# the window and the browser engine's processes as well.
set -m
as_user "$work/root/usr/bin/kestrelon" >/dev/null 2>&1 &
window=$!
set +m
# The page is copied first and its list regenerated after; the browser engine's start may take a
# while on a busy machine.
for _ in $(seq 1 600); do
    grep -qs "127.0.0.1:$port" "$copy" && break
    sleep 0.1
done
kill -- -"$window" 2>/dev/null || true
wait "$window" 2>/dev/null || true
window=
grep -q "127.0.0.1:$port" "$copy" || fail "the help page's site list was not regenerated"
[[ $(fingerprint "$program") == "$before" ]] || fail "the window changed the program folder"

# A portable copy keeps its settings beside the program, as the build folder does.
portable="$work/portable"
cp -r "$program" "$portable"
chmod -R u+w "$portable"
cat "$section" >>"$portable/Kestrelon.ini"
chown -R nobody: "$portable"
rm -rf "$home/.config"
as_user "$portable/kestrelon-cli" --out "$work/shelf" --overwrite "$book" >/dev/null 2>&1 ||
    fail "the portable copy did not download the demo book"
[[ ! -e $home/.config ]] || fail "the portable copy wrote to the user's config folder"

# The man page documents every option --help lists.
help_options=$("$program/kestrelon-cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
man_options=$(zcat "$work/root/usr/share/man/man1/kestrelon-cli.1.gz" | sed 's/\\-/-/g' |
    grep -oE -- '--[a-z][a-z-]*' | sort -u)
missing=$(comm -23 <(echo "$help_options") <(echo "$man_options"))
[[ -z $missing ]] || fail "the man page lacks $missing"

# lintian on the package, where it is installed.
if command -v lintian >/dev/null; then
    (cd "$build" && cpack -G DEB >/dev/null)
    lintian --fail-on error "$build"/kestrelon_*.deb || fail "lintian reported errors"
fi
echo "install test passed"
