#!/usr/bin/env bash
# The manual page renders without a warning, and its synopsis and OPTIONS name exactly the
# options that `corvane --help` lists.
# usage: scripts/check-manpage.sh CORVANE MANPAGE
set -euo pipefail
corvane=$1 page=$2
rendered=$(mktemp)
trap 'rm -f "$rendered"' EXIT

warnings=$(LC_ALL=C MANWIDTH=200 man --warnings -l "$page" 2>&1 >"$rendered") || {
    echo "$page does not render: $warnings"
    exit 1
}
[ -z "$warnings" ] || { echo "$page renders with warnings:"; echo "$warnings"; exit 1; }

# Option names as words of their own: "-a", "[-a]", "--report", "-h, --help".
options() { grep -oE '(^|[][ ,{|(])--?[a-z][a-z-]*' | sed 's/^[^-]*//' | sort -u; }
section() { sed -n "/^$1\$/,/^[A-Z]/p" "$rendered" | sed '1d;$d'; }

help=$("$corvane" --help | options)
[ -n "$help" ] || { echo "corvane --help names no option"; exit 1; }
status=0
for name in SYNOPSIS OPTIONS; do
    if ! difference=$(diff <(echo "$help") <(section "$name" | options)); then
        echo "$page: $name differs from --help (< only in --help, > only in the page):"
        echo "$difference"
        status=1
    fi
done
[ $status -eq 0 ] && echo "$page: renders, and names the $(echo "$help" | wc -l) options of --help"
exit $status
