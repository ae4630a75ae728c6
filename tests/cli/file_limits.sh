#!/usr/bin/env bash
# The file size limit (ulimit -f) never kills the command: a strip over the
# limit is reported as "文件过大" with exit status 1, the old file keeps its
# bytes and no temporary file is left, alone and as a batch line (whose
# neighbours under the limit are still written). A replaced file keeps its
# permission bits.
#
# usage: file_limits.sh path/to/quillow-render
set -euo pipefail

# shellcheck source=scratch_common.sh
source "$(dirname "$(readlink -f "$0")")/scratch_common.sh"

printf 'old picture' >big.bmp
chmod 0640 big.bmp
status=0
# 8 blocks of 512 bytes: a BMP strip of ten characters is far larger.
(ulimit -f 8; exec "$render" -o big.bmp "我们一起大声喊叫吧") 2>errors.txt || status=$?
[ "$status" = 1 ] || fail "over the size limit: exit status $status, expected 1"
grep -q "文件过大" errors.txt || fail "over the size limit: $(cat errors.txt)"
[ "$(cat big.bmp)" = "old picture" ] || fail "the old file was changed"
[ "$(ls)" = "$(printf 'big.bmp\nerrors.txt')" ] || fail "left behind: $(ls)"

printf '%s\n' '{"phrase": "我们一起大声喊叫吧", "output": "big.bmp"}' \
    '{"phrase": "喊", "output": "small.png", "dpi": 8}' >lines.jsonl
status=0
(ulimit -f 8; exec "$render" --batch lines.jsonl) >results.jsonl 2>errors.txt || status=$?
[ "$status" = 1 ] || fail "batch over the size limit: exit status $status, expected 1"
grep -q '^{"line":1,"output":"big.bmp","ok":false,"error":".*文件过大' results.jsonl ||
    fail "batch over the size limit: $(cat results.jsonl)"
grep -q '"line":2,"output":"small.png","ok":true' results.jsonl || fail "the small line was not written"
[ "$(cat big.bmp)" = "old picture" ] || fail "the batch changed the old file"
[ "$(ls | tr '\n' ' ')" = "big.bmp errors.txt lines.jsonl results.jsonl small.png " ] || fail "left behind: $(ls)"

"$render" -o big.bmp "我们" || fail "a strip under no limit failed"
[ "$(stat -c %a big.bmp)" = 640 ] || fail "the replaced file has mode $(stat -c %a big.bmp), not 640"
echo "limits: all as documented"
