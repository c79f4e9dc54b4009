# Turns a message catalog compiled by msgfmt (.mo) into a C++ source holding its bytes.
#   cmake -DINPUT=pt.mo -DOUTPUT=PortugueseCatalog.cpp -P EmbedCatalog.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
# Lines of 16 bytes, so that the source stays readable by a compiler's diagnostics.
string(REGEX REPLACE "(('[^']+',){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; do not edit.
#include \"frontend/UserLanguage.h\"

namespace upload::frontend {

namespace {

constexpr char bytes[${size}] = {
    ${bytes}};

} // namespace

std::string_view portugueseCatalog() { return {bytes, sizeof bytes}; }

} // namespace upload::frontend
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
