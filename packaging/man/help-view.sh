#!/bin/sh
# help2man's view of a program (TORVIN_MAN_PROGRAM), run under the program's name: its --help
# with the heading "Exit status:" marked as a section of the page of its own (EXIT STATUS).
if [ "$1" = --help ]; then
    "$TORVIN_MAN_PROGRAM" --help | sed 's/^Exit status:$/*Exit status*/'
else
    exec "$TORVIN_MAN_PROGRAM" "$@"
fi
