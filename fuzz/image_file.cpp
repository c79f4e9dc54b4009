// The --image reader: the verdict on any text (accepted with which records, or refused at which
// line) must be the one of the plain reader below, written the slow way from the rules: lines cut
// at LF with one CR dropped, blank lines at the end ignored, each line ':' and an even number of
// hexadecimal digits making at least five bytes, the byte count matching, all bytes summing to 0
// modulo 256, type 00 (data), 04 (two bytes) or 01 (none, and nothing after it), at least one
// record to send.
#include "cli/torvin-upload/ImageFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using torvinupload::ImageFile;

namespace {

void check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "image_file: %s\n", what.c_str());
        std::abort();
    }
}

struct Verdict {
    std::vector<std::string> records; // empty: refused
    std::size_t badLine = 0;          // the refused line's number
};

int digit(char c) {
    const std::string_view digits = "0123456789abcdef";
    const std::size_t at = digits.find(c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c);
    return at == digits.npos ? -1 : static_cast<int>(at);
}

// The record's type, or -1 when the line is not a record that may be sent.
int recordType(const std::string& line) {
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) return -1;
    std::vector<int> bytes;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const int high = digit(line[i]);
        const int low = digit(line[i + 1]);
        if (high < 0 || low < 0) return -1;
        bytes.push_back(high * 16 + low);
    }
    int sum = 0;
    for (int b : bytes)
        sum += b;
    const int count = bytes[0];
    const int type = bytes[3];
    if (sum % 256 != 0 || static_cast<std::size_t>(count) + 5 != bytes.size()) return -1;
    if (type == 0 || (type == 4 && count == 2) || (type == 1 && count == 0)) return type;
    return -1;
}

Verdict reference(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();

    Verdict verdict;
    bool ended = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int type = recordType(lines[i]);
        if (ended || type < 0) return Verdict{{}, i + 1};
        if (type == 1)
            ended = true;
        else
            verdict.records.push_back(lines[i]);
    }
    if (verdict.records.empty()) verdict.badLine = 1;
    return verdict;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Verdict expected = reference(text);

    std::string error;
    const ImageFile image = ImageFile::parse(text, "f", error);
    check(image.records() == expected.records,
          "records differ from the reference reader's; error: " + error);
    check(static_cast<std::size_t>(image.recordCount()) == image.lines().size(),
          "lines and records");
    if (expected.records.empty()) {
        check(error.starts_with("f:" + std::to_string(expected.badLine) + ": "),
              "refused at another line than line " + std::to_string(expected.badLine) + ": " +
                  error);
    } else {
        check(error.empty(), "accepted with an error: " + error);
        for (std::size_t i = 0; i < expected.records.size(); ++i)
            check(image.lines()[i] == expected.records[i], "a line differs from its record");
    }
    return 0;
}
