#!/usr/bin/env bash
# Renders the tools' manual pages as man shows them and checks what a reader sees: no markup
# left over (a literal _ or * in a synopsis), examples at one indentation, and no warning from
# groff. Usage: check.sh DIR (the built pages RackTap.1, RackSim.1, zeb.1, zebgw.1); exit 77 when they
# were not built (no scdoc) or man is missing.
set -uo pipefail
dir=$1
command -v man >/dev/null && command -v groff >/dev/null || { echo "man or groff is missing"; exit 77; }
[[ -e $dir/zeb.1 ]] || { echo "the manual pages were not built (scdoc is missing)"; exit 77; }

status=0
expect() {  # what, then a command whose success is the check
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; status=1; fi
}
section() {  # page, section name: the section's rendered lines
    MANWIDTH=100 man -l "$1" 2>/dev/null | sed -n "/^$2\$/,/^[A-Z]/p" | sed '1d;$d'
}
no_markup() { ! grep -q '[_*]' <<<"$1"; }
one_indentation() { [[ $(grep -v '^$' <<<"$1" | grep -v '^ *[A-Z]' | sed 's/[^ ].*//' | sort -u | wc -l) -eq 1 ]]; }

for page in RackTap RackSim zeb zebgw; do
    file=$dir/$page.1
    synopsis=$(section "$file" SYNOPSIS)
    expect "$page(1) has a synopsis" test -n "$synopsis"
    expect "$page(1)'s synopsis: $synopsis" no_markup "$synopsis"
    warnings=$(preconv "$file" | groff -man -Tutf8 -ww -z 2>&1)
    expect "$page(1) renders without a groff warning${warnings:+: $warnings}" test -z "$warnings"
done
racktap_options=$(section "$dir/RackTap.1" OPTIONS | grep '^       /')
expect "RackTap(1)'s options show no markup: $(tr '\n' ' ' <<<"$racktap_options")" \
    no_markup "$racktap_options"
examples=$(section "$dir/zeb.1" EXAMPLES | grep '^ *zeb ')
expect "zeb(1)'s examples are indented alike" one_indentation "$examples"
expect "zeb(1) shows three examples" test "$(grep -c . <<<"$examples")" -eq 3
exit $status
