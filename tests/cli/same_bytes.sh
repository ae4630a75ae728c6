#!/usr/bin/env bash
# Runs one table of quillow-render commands and batch lines with two binaries
# and compares every file they write byte for byte, and the exit status and
# standard output of every command. Use it before and after a change that must
# not change what users get:
#
#   tests/cli/same_bytes.sh OLD_BINARY NEW_BINARY
#
# Every command fixes --seed, so random colours and the shake are the same in
# both runs. Exit status 0 when everything matches, 1 otherwise.
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 OLD_BINARY NEW_BINARY" >&2
    exit 2
fi
old=$(realpath "$1")
new=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# One command a line: the arguments after the binary, OUT standing for the
# output file (its suffix given after OUT, e.g. OUT.png).
commands=$(cat <<'TABLE'
--seed 1 -o OUT.png 你好
--seed 1 -o OUT.bmp 你好
--seed 1 --format png-alpha -o OUT.png 你好世界
--seed 2 -o OUT.apng --effect reveal 大声喊出来
--seed 2 -o OUT.gif --effect reveal 大声喊出来
--seed 2 -o OUT.webp --effect reveal 大声喊出来
--seed 3 -o OUT.apng --effect shake 震动
--seed 3 -o OUT.gif --effect shake 震动
--seed 3 -o OUT.webp --effect shake 震动
--seed 4 -o OUT.apng --effect reveal-shake 先出现再抖
--seed 4 -o OUT.gif --effect reveal-shake 先出现再抖
--seed 4 -o OUT.webp --effect reveal-shake 先出现再抖
--seed 5 -o OUT.apng 静止
--seed 5 -o OUT.gif 静止
--seed 5 -o OUT.webp 静止
--seed 5 --format gif -o OUT.bin --effect still 静止
--seed 6 -o OUT.gif --effect reveal --matte #202020 深色
--seed 6 -o OUT.gif --effect shake --matte #FFFFFF 浅色
--seed 7 -o OUT.webp --effect reveal --quality 0 质量
--seed 7 -o OUT.webp --effect reveal --quality 50 质量
--seed 7 -o OUT.webp --quality 90 质量
--seed 8 --format png-alpha -o OUT.png --outline 3 描边
--seed 8 --format png-alpha -o OUT.png --outline 12 --outline-colour #FF00FF 描边
--seed 8 -o OUT.gif --effect reveal --outline 2 描边
--seed 9 --format png-alpha -o OUT.png --shadow 阴影
--seed 9 --format png-alpha -o OUT.png --shadow --shadow-colour #FF000040 --shadow-offset -3,4 --shadow-blur 0 阴影
--seed 9 -o OUT.apng --effect reveal --shadow --outline 4 --shadow-blur 20 阴影
--seed 10 --preset wechat -o OUT.png 微信
--seed 10 --preset wechat -o OUT.gif --effect reveal 微信
--seed 10 --preset qq -o OUT.png 扣扣
--seed 10 --preset qq -o OUT.gif --effect shake 扣扣
--seed 11 --preset telegram -o OUT.png 电报
--seed 11 --preset telegram -o OUT.webp 电报
--seed 11 --preset telegram -o OUT.gif --effect reveal 电报
--seed 11 --preset telegram -o OUT.png --effect reveal 电报
--seed 11 --preset telegram -o OUT.webm --effect reveal 电报
--seed 11 --preset telegram-emoji -o OUT.png 表情
--seed 11 --preset telegram-emoji -o OUT.webm --effect shake 表情
--seed 11 --preset whatsapp -o OUT.webp 瓦次艾普
--seed 11 --preset whatsapp -o OUT.webp --effect reveal-shake 瓦次艾普
--seed 11 --preset whatsapp -o OUT.webp --effect reveal --hold-ms 60000 太长
--seed 12 --preset discord-emoji -o OUT.png 表情
--seed 12 --preset discord-emoji -o OUT.gif --effect reveal 表情
--seed 12 --preset discord-emoji -o OUT.apng --effect reveal 表情
--seed 12 --preset discord-sticker -o OUT.png 贴纸
--seed 12 --preset discord-sticker -o OUT.apng --effect reveal-shake 贴纸
--seed 12 --preset discord-sticker -o OUT.gif --effect reveal 贴纸
--seed 13 --preset slack -o OUT.png 斯莱克
--seed 13 --preset slack -o OUT.gif --effect reveal 斯莱克
--seed 13 --preset slack -o OUT.gif --effect reveal --frame-ms 10 --hold-ms 60000 多帧多帧多帧多帧
--seed 13 --preset slack -o OUT.gif --effect reveal --matte #000000 斯莱克
--seed 13 --preset nosuch -o OUT.png 没有
--seed 14 -o OUT.gif --effect reveal --max-bytes 4000 上限上限上限
--seed 14 -o OUT.webp --effect reveal --max-bytes 3000 上限上限上限
--seed 14 -o OUT.apng --effect reveal --max-bytes 10 做不到
--seed 14 --format png-alpha -o OUT.png --max-bytes 100000 上限
--seed 15 -o OUT.png --colours gradient --start #00FF00 --end #0000FF 渐变色
--seed 15 -o OUT.bmp --colours default --bold --italic 默认色
--seed 15 -o OUT.png --halign centre --valign middle --spacing 12 --underline --strike-out 对齐
--seed 15 -o OUT.png --dpi 144 --scale 2 高分辨率
--seed 15 -o OUT.bmp --scale 1.5 缩放
--seed 16 -o OUT.png --effect reveal 静态不能动
--seed 16 -o OUT.png --matte #000000 不该有底色
--seed 16 -o OUT.gif --quality 50 不该有质量
--seed 16 --format webm -o OUT.webm 不认识
--seed 16 -o OUT.xyz 不认识
--seed 17 -o OUT.gif --effect reveal --frame-ms 40 --hold-ms 0 快
--seed 17 -o OUT.apng --effect reveal-shake --frame-ms 500 --hold-ms 200 慢
--seed 18 -o OUT.webp --effect shake --outline 1 --shadow --quality 75 全部
--seed 19 -o OUT.gif --effect reveal --dpi 144 不能改分辨率
--help
TABLE
)

# Batch lines, run as one batch (plus the command-line defaults after "|").
batches=$(cat <<'TABLE'
--seed 20 | {"phrase":"批处理","output":"OUT1.png"}
--seed 20 | {"phrase":"批处理","output":"OUT1.gif","effect":"reveal","preset":"slack"}
--seed 20 | {"phrase":"批处理","output":"OUT1.webp","effect":"shake","quality":60}
--seed 20 | {"phrase":"批处理","output":"OUT1.apng","effect":"reveal-shake","outline":3,"shadow":true}
--seed 20 --preset discord-emoji | {"phrase":"默认预设","output":"OUT1.gif","effect":"reveal"}
--seed 20 --effect shake | {"phrase":"默认效果","output":"OUT1.webp","seed":7}
--seed 20 | {"phrase":"批处理","output":"OUT1.png","format":"png-alpha","outline":2}
--seed 20 | {"phrase":"批处理","output":"OUT1.bmp","bold":true}
--seed 20 | {"phrase":"批处理","output":"OUT1.gif","preset":"telegram","effect":"reveal"}
--seed 20 | {"phrase":"批处理","output":"OUT1.gif","effect":"reveal","max-bytes":5000,"matte":"#303030"}
--seed 20 | {"phrase":"批处理","output":"OUT1.png","preset":"wechat"}
--seed 20 | {"phrase":"批处理","output":"OUT1.webp","preset":"telegram"}
TABLE
)

run_all() { # binary folder
    local bin=$1 dir=$2 n=0 line args
    mkdir -p "$dir"
    while IFS= read -r line; do
        n=$((n + 1))
        args=${line//OUT/$dir/c$n}
        # shellcheck disable=SC2086
        (cd "$dir" && "$bin" $args >"$dir/c$n.stdout" 2>"$dir/c$n.stderr"; echo $? >"$dir/c$n.rc")
    done <<<"$commands"
    n=0
    while IFS= read -r line; do
        n=$((n + 1))
        local defaults=${line%% | *} body=${line#* | }
        body=${body//OUT/$dir/b$n}
        # shellcheck disable=SC2086
        (cd "$dir" && printf '%s\n' "$body" | "$bin" $defaults --batch - >"$dir/b$n.stdout" 2>"$dir/b$n.stderr"
         echo $? >"$dir/b$n.rc")
    done <<<"$batches"
}

run_all "$old" "$work/old"
run_all "$new" "$work/new"

status=0
count=0
for file in "$work"/old/*; do
    name=$(basename "$file")
    count=$((count + 1))
    case $name in *.stderr) continue ;; esac # messages may name the folder; stdout and rc cover them
    if [ ! -e "$work/new/$name" ]; then
        echo "missing in new: $name"
        status=1
    elif ! cmp -s <(sed "s#$work/old#DIR#g" "$file") <(sed "s#$work/new#DIR#g" "$work/new/$name"); then
        echo "differs: $name"
        status=1
    fi
done
for file in "$work"/new/*; do
    [ -e "$work/old/$(basename "$file")" ] || { echo "only in new: $(basename "$file")"; status=1; }
done
# stderr compared too, with the folder names taken out
for file in "$work"/old/*.stderr; do
    name=$(basename "$file")
    cmp -s <(sed "s#$work/old#DIR#g" "$file") <(sed "s#$work/new#DIR#g" "$work/new/$name") ||
        { echo "stderr differs: $name"; status=1; }
done
echo "$(ls "$work/old" | grep -cv '\.\(stdout\|stderr\|rc\)$') output files, $count files in all compared"
[ $status -eq 0 ] && echo "same bytes" || echo "DIFFERENT"
exit $status
