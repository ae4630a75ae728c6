# Sourced by the command line's scripts, after `set -euo pipefail`: `render`
# is the quillow-render given as the first argument, and the script runs in
# a scratch folder of its own, removed on exit. `fail` says why and stops.
render=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "$*" >&2; exit 1; }
