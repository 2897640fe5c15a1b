#!/usr/bin/env bash
# Checks a command's manual page: it renders without a warning (mandoc's lint,
# style messages included), has the sections a user looks for, and names
# every option the command's --help lists, so that an option added to the
# command without its page fails here.
#
#   check-manpage.sh MANDOC COMMAND PAGE
set -euo pipefail
mandoc=$1 command=$2 page=$3
name=$(basename "$command")
fail() {
    echo "FAIL: $page: $*" >&2
    exit 1
}

lint=$("$mandoc" -T lint -W style "$page" 2>&1) || fail "mandoc -T lint:
$lint"
[ -z "$lint" ] || fail "mandoc -T lint:
$lint"

title=$(echo "$name" | tr '[:lower:]' '[:upper:]')
grep -q "^\.TH $title 1 " "$page" || fail "no '.TH $title 1' line"
grep -q "^$name \\\\- " "$page" || fail "the NAME line does not begin with '$name \\-'"
for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -qx "\.SH \"\?$section\"\?" "$page" || fail "no $section section"
done

# The page's text with the escapes that options are written with undone.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
# --help runs on an empty root, so that a command that does not know the
# option (the probe, which takes none) reads nothing of the machine's.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
help=$(VAVIVAZ_ROOT=$root "$command" --help </dev/null 2>/dev/null) || true
options=$(grep -oE '(^|[[:space:][|(])--?[A-Za-z][A-Za-z0-9-]*' <<<"$help" |
    sed 's/^[^-]*//' | sort -u) || true
for option in $options; do
    grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)" <<<"$text" ||
        fail "$name --help lists $option, the page does not"
done
echo "$page: renders cleanly, names $(wc -w <<<"$options") options"
