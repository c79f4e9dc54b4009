#!/bin/sh
# Every text the sources pass to fw::tr() has its Portuguese form in the catalog: xgettext
# collects them as gettext would, and msgcmp finds those the catalog lacks or leaves untranslated.
#   translations_complete.sh SOURCE-TREE
set -eu
cd "$1"
template=$(mktemp "${TMPDIR:-/tmp}/torvin-texts.XXXXXX")
trap 'rm -f "$template"' EXIT
grep -rl --include='*.cpp' --include='*.h' 'fw::tr(' app cli comport framework frontend tools upload |
    xgettext --language=C++ --keyword= --keyword=tr:1 --from-code=UTF-8 --files-from=- \
        --output="$template"
sed -i "s/charset=CHARSET/charset=UTF-8/" "$template"
msgcmp frontend/translations/pt.po "$template"
