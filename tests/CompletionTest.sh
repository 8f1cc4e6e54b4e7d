#!/usr/bin/env bash
# The bash completion against a table of command lines: what it offers for the word under the
# cursor (the last word of each line), in a scratch folder with known files.
# Usage: tests/CompletionTest.sh COMPLETION-FILE
set -uo pipefail
# shellcheck source=/dev/null
source "$1" || exit 1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir out && touch -- page.html -h.txt 'two words.txt' || exit 1

failures=0
# expect EXPECTED-OFFER WORD...: the words are the command line, the cursor in its last word;
# the offer is COMPREPLY sorted and joined with "|".
expect() {
    local want=$1; shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _korrin
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|')
    if [ "$got" != "$want" ]; then
        echo "FAIL: korrin ${*:2}: offered '$got', expected '$want'"
        failures=$((failures + 1))
    fi
}

expect ''                    korrin ''                        # the URL: nothing
expect ''                    korrin -o                        # the URL, even when it reads -o
expect '-h|-o|-p|-u'         korrin http://h/ ''
expect '-o'                  korrin http://h/ -o
expect '-h|-o|-p|-u'         korrin http://h/ -h ''           # -h takes no value
expect '-h|-o|-p|-u'         korrin http://h/ -O x.html ''
expect '-h.txt|out|page.html|two words.txt' korrin http://h/ -o ''
expect 'page.html'           korrin http://h/ -u ann -O pa
expect '-h.txt'              korrin http://h/ -o -h           # after -o a file, even "-h..."
expect ''                    korrin http://h/ -u ''           # user names are the user's own
expect ''                    korrin http://h/ -p -o           # a password that reads "-o"
expect '-h|-o|-p|-u'         korrin http://h/ -p -o ''        # ... is not an -o
expect '-h|-o|-p|-u'         korrin http://h/ -o -u ''        # a file named "-u" is no -u

[ "$(complete -p korrin)" = "complete -F _korrin korrin" ] ||
    { echo "FAIL: korrin is not bound to _korrin"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "bash completion: every case offered what it should"
