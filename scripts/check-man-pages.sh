#!/usr/bin/env bash
# Checks the man pages as a reader sees them, rendered at 80 columns:
#   scripts/check-man-pages.sh MAN1_FOLDER BIN_FOLDER PROGRAM...
# Each page must keep every accented word of the program's --help (help2man run in the C locale
# turns them into "?"), give every exit status of --help as an entry of its own with its number in
# a section of its own, EXIT STATUS (no text left at the margin, no status split over two entries),
# and say what the program does once only.
set -euo pipefail

fail() {
    echo "check-man-pages: $*" >&2
    exit 1
}

[[ $# -ge 3 ]] || fail "usage: $0 MAN1_FOLDER BIN_FOLDER PROGRAM..."
man1=$1 bin=$2
shift 2
export LC_ALL=C.UTF-8

for program in "$@"; do
    page=$man1/$program.1.gz
    [[ -f $page ]] || fail "no man page $page"
    help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$program" --help) ||
        fail "$program --help failed"
    # Without hyphenation, so that every word stands whole on the rendered page.
    text=$(zcat "$page" | groff -k -man -Tutf8 -rLL=80n -rHY=0 -P-cbou 2>&1) ||
        fail "groff cannot render $page"

    # Every word of --help that holds a non-ASCII letter, as it stands.
    while IFS= read -r word; do
        grep -qF -- "$word" <<<"$text" || fail "$program(1) lacks '$word' of --help (accents lost?)"
    done < <(grep -oP '\S*[^\x00-\x7F]\S*' <<<"$help" | sort -u)

    # The exit statuses of --help, in order: the lines "  N    text" after "Exit status".
    wanted=$(awk '/^Exit status/ { list = 1; next } list && /^  [0-9]+ / { print $1 }' <<<"$help")
    if [[ -n $wanted ]]; then
        # On the page: in the section EXIT STATUS, after a paragraph of introduction if any,
        # entries "N    text" at the paragraph indent, their text continued under the text;
        # anything else up to the next section is a broken list.
        grep -q '^EXIT STATUS$' <<<"$text" || fail "$program(1) has no section EXIT STATUS"
        listed=$(awk '
            /^EXIT STATUS$/ && !seen { seen = 1; intro = 1; next }
            !seen { next }
            /^[^ ]/ { exit }
            intro && /^ *$/ { intro = 0; next }
            /^       [0-9]+  +[^ ]/ { intro = 0; entry = 1; print $1; next }
            intro { next }
            /^ *$/ { entry = 0; next }
            entry && /^              [^ ]/ { next }
            { print "BROKEN: " $0; exit }' <<<"$text")
        grep -q '^BROKEN: ' <<<"$listed" &&
            fail "$program(1): the exit status list is broken at: '$(grep '^BROKEN: ' <<<"$listed" | cut -c9-)'"
        [[ $listed == "$wanted" ]] ||
            fail "$program(1) lists the exit statuses $(echo $listed) where --help has $(echo $wanted)"
    fi

    # The description once: the page's own words and --help's first line must not both be there.
    description=$(sed -n '/^DESCRIPTION/,/^[A-Z]/p' <<<"$text")
    said=$(grep -ciE '^ +(\S+ +)?(writes|plays) ' <<<"$description" || true)
    ((said <= 1)) || fail "$program(1) says what the program does $said times"
done
echo "check-man-pages: $* read well at 80 columns: accents, exit statuses, one description"
