#pragma once

// What the program needs of the console it runs in, on Linux and Windows alike.

#include <string>
#include <vector>

namespace torvinupload {

// Sets the console up for the program's texts (UTF-8): on Windows, a stream that goes to a
// console shows its accents through the console's wide-character output, leaving the console's
// code page alone, and takes the escape sequences the progress display redraws with. Call once
// at the start.
void prepareConsole();

// Standard output writes the bytes as given from here on: on Windows, no carriage return is put
// before each line feed.
void writeBytesAsStored();

// The program's arguments in UTF-8 (on Windows taken from the wide command line, so that any
// file name survives), without the program's name.
std::vector<std::string> programArguments(int argc, char** argv);

// Whether standard output is a terminal (a console window) rather than a file or a pipe.
bool outputIsTerminal();
// The terminal's width in columns; 80 when unknown.
int terminalColumns();

} // namespace torvinupload
