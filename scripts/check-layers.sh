#!/usr/bin/env bash
# Fails when a header is included from a folder above the includer's own layer, or when an
# include is not rooted at the repository. Lower layers first; folders of one rank may not
# include each other.
set -euo pipefail
cd "$(dirname "$0")/.."

# The ranks are the README's layer table (How the code is organised).
declare -A rank=(
    [pattern]=0
    [text]=1 [settings]=1 [net]=1
    [analysis]=2 [browser]=2 [book]=2
    [plugins]=2
    [library]=3
    [pipeline]=4
    [window]=5 [cli]=5 [demo]=5
    [tests]=6 [bench]=6
)

status=0
while IFS= read -r file; do
    own=${file%%/*}
    [[ -n ${rank[$own]+set} ]] || continue
    while IFS= read -r included; do
        target=${included%%/*}
        if [[ $included != */* || -z ${rank[$target]+set} ]]; then
            echo "$file: include \"$included\" is not rooted at the repository" >&2
            status=1
        elif [[ $target != "$own" ]] && ((rank[$target] >= rank[$own])); then
            echo "$file: includes \"$included\" from a layer not below its own" >&2
            status=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
exit $status
