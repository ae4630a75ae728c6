#!/usr/bin/env bash
# Everything about a format lives in its row of the format table: no code
# outside src/export/output_format.cpp decides anything by comparing a
# format's name with a literal such as "gif" or "png-alpha". A new format
# is then one row, and no hand-written list can drift from the table.
#
#   no_format_names.sh SOURCE_DIR
set -u
cd "$1/src" || exit 2

names='png|png-alpha|bmp|apng|gif|webp|webm'
# A literal format name compared with something, in any of Qt's spellings,
# or a format's name compared with anything.
comparisons="(==|!=)[[:space:]]*(QLatin1String(View)?\\(|QStringLiteral\\(|u)?\"($names)\"|\"($names)\"(_L1)?[[:space:]]*(==|!=)|(format|made|asked|bySuffix)(->|\\.)name[[:space:]]*(==|!=)|isFormat\\("

found=$(grep -rnE --include='*.cpp' --include='*.h' "$comparisons" . | grep -v '^./export/output_format.cpp:')
if [ -n "$found" ]; then
    echo "decisions by a format's name outside the format table:"
    echo "$found"
    exit 1
fi
echo "no decision by a format's name outside the format table"
