// hexgen: writes the firmware image as an Intel HEX file, the same bytes on every run.
//
//   hexgen [FILE]     write to FILE (default: standard output)
//   hexgen --area     print where the application's program memory begins and ends (one past its
//                     last byte), in hexadecimal: the bounds every byte of the image lies within
//
// The file holds the 1974 record lines and an empty last line, every line ended by a line feed.

#include "tools/hexgen/ImageLayout.h"
#include "upload/MonitorArea.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc == 2 && argv[1] == std::string("--area")) {
        std::printf("0x%04X 0x%04X\n", static_cast<unsigned>(upload::monitorAreaEnd),
                    static_cast<unsigned>(upload::programMemoryEnd));
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    if (argc > 2 ||
        (argc == 2 && std::string(argv[1]).starts_with("-") && argv[1] != std::string("-"))) {
        std::cerr << "usage: hexgen [FILE]   (writes the firmware image; '-' or nothing: standard "
                     "output)\n       hexgen --area   (the application's program memory)\n";
        return 2;
    }
    try {
        std::string text;
        for (const auto& line : hexgen::firmwareRecords())
            text += line + '\n';
        text += '\n'; // the image's empty last line

        if (argc == 1 || argv[1] == std::string("-")) {
            std::cout << text << std::flush;
            if (!std::cout) throw std::runtime_error("cannot write to standard output");
        } else {
            std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
            out << text;
            out.close();
            if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "hexgen: " << e.what() << "\n";
        return 1;
    }
}
