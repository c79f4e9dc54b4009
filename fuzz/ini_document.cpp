// The ini document: any text reads and writes back byte for byte; setting a key either refuses
// and changes nothing, or reads back as set while every other line stays byte for byte, its
// ending included (one key line replaced, or the key, a header and a blank line added).
#include "comport/settings/IniDocument.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using comport::IniDocument;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ini_document: %s\n", what);
        std::abort();
    }
}

struct Line {
    std::string text;
    std::string end; // CR LF, LF, CR, or nothing for a last line without one
};

// The lines of a file, after a UTF-8 byte order mark, each ended by CR LF, LF or a CR on its own.
std::vector<Line> linesOf(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<Line> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        if (end == text.npos) {
            lines.push_back({std::string(text), ""});
            break;
        }
        const std::size_t endLength = text.substr(end, 2) == "\r\n" ? 2 : 1;
        lines.push_back(
            {std::string(text.substr(0, end)), std::string(text.substr(end, endLength))});
        text.remove_prefix(end + endLength);
    }
    return lines;
}

// A line kept as it was, byte for byte; a last line without an ending may have gained one.
bool kept(const Line& before, const Line& after) {
    return before.text == after.text && (before.end == after.end || before.end.empty());
}

// True when `line`, read under `section`, is a line of `key`.
bool isKeyLine(const std::string& line, const std::string& section, const std::string& key) {
    return IniDocument("[" + section + "]\n" + line + "\n").value(section, key).has_value();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(12);
    const std::string key = in.ConsumeRandomLengthString(12);
    const std::string value = in.ConsumeRandomLengthString(24);
    const std::string text = in.ConsumeRemainingBytesAsString();

    IniDocument doc(text);
    check(doc.text() == text, "the text does not write back as it was read");

    try {
        doc.setValue(section, key, value);
    } catch (const comport::EIniFileError&) {
        check(doc.text() == text, "a refused change changed the text");
        return 0;
    }
    const std::string changed = doc.text();
    check(IniDocument(changed).value(section, key) == value, "the key does not read back as set");

    const std::vector<Line> before = linesOf(text);
    const std::vector<Line> after = linesOf(changed);
    std::size_t head = 0;
    while (head < before.size() && head < after.size() && kept(before[head], after[head]))
        ++head;
    std::size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           kept(before[before.size() - 1 - tail], after[after.size() - 1 - tail]))
        ++tail;
    const std::size_t removed = before.size() - head - tail;
    const std::size_t added = after.size() - head - tail;
    check(removed <= 1 && added >= removed && added <= 3, "other lines changed");
    if (removed == 1)
        check(isKeyLine(before[head].text, section, key), "another line was replaced");
    for (std::size_t i = head; i < head + added; ++i) {
        const std::string& line = after[i].text;
        check(line.empty() || line == "[" + section + "]" || isKeyLine(line, section, key),
              "a line other than the key, its header or a blank was added");
    }
    return 0;
}
