# Turns the firmware image (an Intel HEX text file) into a C++ source holding its lines.
#   cmake -DINPUT=firmware.hex -DOUTPUT=FirmwareImageLines.cpp -P EmbedImage.cmake
# Every line must be empty or ':' followed by upper-case hexadecimal digits; anything else stops
# the build, so a damaged file never reaches the program.

file(READ "${INPUT}" text)
string(REPLACE "\r" "" text "${text}")
# Each line ends with a line feed; the last one ends the file and does not start another line.
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(body "")
set(count 0)
foreach(line IN LISTS lines)
    math(EXPR count "${count} + 1")
    if(NOT line MATCHES "^(:[0-9A-F]*)?$")
        message(FATAL_ERROR "${INPUT}:${count}: not an Intel HEX record line: '${line}'")
    endif()
    string(APPEND body "    \"${line}\",\n")
endforeach()

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; do not edit.
#include \"upload/FirmwareImage.h\"

#include <array>

namespace upload {

namespace {

constexpr std::array<std::string_view, ${count}> lines = {
${body}};

} // namespace

ImageLines firmwareImage() { return lines; }

} // namespace upload
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
