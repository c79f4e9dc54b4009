// The ini document: any text reads and writes back byte for byte; setting a key either refuses
// and changes nothing, or reads back as set while every other line reads as before (one key
// line replaced, or the key, a header and a blank line added).
#include "comport/IniDocument.h"

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

// The lines as a reader of the file sees them: after a UTF-8 byte order mark, cut at LF, one CR
// before the LF dropped.
std::vector<std::string> linesAsRead(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf != text.npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        text.remove_prefix(lf == text.npos ? text.size() : lf + 1);
    }
    return lines;
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

    const std::vector<std::string> before = linesAsRead(text);
    const std::vector<std::string> after = linesAsRead(changed);
    std::size_t head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head])
        ++head;
    std::size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    const std::size_t removed = before.size() - head - tail;
    const std::size_t added = after.size() - head - tail;
    check(removed <= 1 && added >= removed && added <= 3, "other lines changed");
    if (removed == 1) check(isKeyLine(before[head], section, key), "another line was replaced");
    for (std::size_t i = head; i < head + added; ++i) {
        const std::string& line = after[i];
        check(line.empty() || line == "[" + section + "]" || isKeyLine(line, section, key),
              "a line other than the key, its header or a blank was added");
    }
    return 0;
}
