# The API reference's main page: the usage comment at the top of comport/ComPort.h, its comment
# marks taken off, as Markdown; lines indented by four spaces are code, fenced for doxygen.
#   awk -v output=FILE -f mainpage.awk ComPort.h
BEGIN {
    print "The serial port component TComPort {#mainpage}\n===\n" > output
    # Read out of the header, "this header" would name no file: the page says which it is.
    print "A program includes `#include <comport/ComPort.h>`.\n" > output
}
/^\/\// {
    line = $0
    sub(/^\/\/ ?/, "", line)
    if (line ~ /^    / && !code) { print "~~~{.cpp}" > output; code = 1 }
    if (line !~ /^    / && code) { print "~~~" > output; code = 0 }
    print line > output
    found = 1
    next
}
found { exit }
