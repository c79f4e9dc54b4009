#include "comport/settings/IniDocument.h"

#include "framework/Convert.h"

namespace comport {

namespace {

constexpr std::string_view utf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t npos = std::string_view::npos;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string unquote(std::string_view raw) {
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
    }
    return std::string(raw);
}

std::string quoteIfNeeded(std::string_view value) {
    const bool blankEdge = !value.empty() && (isBlank(value.front()) || isBlank(value.back()));
    const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (blankEdge || quoted) return "\"" + std::string(value) + "\"";
    return std::string(value);
}

bool hasLineBreakOrZero(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

void checkName(std::string_view what, std::string_view name, std::string_view forbidden) {
    const std::string quoted = "'" + std::string(name) + "'";
    if (name.empty()) throw EIniFileError("An ini file cannot hold an empty " + std::string(what));
    if (hasLineBreakOrZero(name) || name.find_first_of(forbidden) != npos ||
        trim(name).size() != name.size()) {
        throw EIniFileError("An ini file cannot hold the " + std::string(what) + " name " + quoted +
                            ": it contains a line break, a zero byte, \"" + std::string(forbidden) +
                            "\" or blanks at its ends");
    }
}

} // namespace

IniDocument::IniDocument(std::string_view content) {
    if (content.substr(0, utf8Bom.size()) == utf8Bom) {
        bom_ = utf8Bom;
        content.remove_prefix(utf8Bom.size());
    }
    bool firstEnding = true;
    while (!content.empty()) {
        // CR LF, LF and a CR on its own all end a line: a file from an editor that ends lines
        // with CR alone keeps its lines apart, and a key added after such a line leaves it as it
        // was instead of turning its CR into part of a CR LF.
        const std::size_t end = content.find_first_of("\r\n");
        Line line;
        if (end == npos) {
            line.text = content;
            content = {};
        } else {
            line.text = content.substr(0, end);
            const bool crlf =
                content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
            line.eol = crlf ? "\r\n" : std::string(1, content[end]);
            content.remove_prefix(end + line.eol.size());
            if (firstEnding) newLine_ = line.eol;
            firstEnding = false;
        }
        lines_.push_back(std::move(line));
    }
}

IniDocument::Parsed IniDocument::parse(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty()) return {Kind::blank, {}, {}};
    if (t.front() == ';' || t.front() == '#') return {Kind::comment, {}, {}};
    if (t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close == npos) return {Kind::other, {}, {}};
        return {Kind::section, trim(t.substr(1, close - 1)), {}};
    }
    const std::size_t eq = t.find('=');
    if (eq == npos) return {Kind::other, {}, {}};
    const std::string_view name = trim(t.substr(0, eq));
    if (name.empty()) return {Kind::other, {}, {}};
    return {Kind::key, name, trim(t.substr(eq + 1))};
}

std::size_t IniDocument::findSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Parsed p = parse(lines_[i].text);
        if (p.kind == Kind::section && fw::sameText(p.name, section)) return i;
    }
    return npos;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    const std::size_t header = findSection(section);
    if (header == npos) return std::nullopt;
    for (std::size_t i = header + 1; i < lines_.size(); ++i) {
        const Parsed p = parse(lines_[i].text);
        if (p.kind == Kind::section) break;
        if (p.kind == Kind::key && fw::sameText(p.name, key)) return unquote(p.rawValue);
    }
    return std::nullopt;
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    checkName("section", section, "]");
    checkName("key", key, "=");
    if (key.front() == '[' || key.front() == ';' || key.front() == '#') {
        throw EIniFileError("An ini file cannot hold the key name '" + std::string(key) +
                            "': it would read as a section header or a comment");
    }
    if (hasLineBreakOrZero(value)) {
        throw EIniFileError("An ini file cannot hold the value of '" + std::string(key) +
                            "' in section [" + std::string(section) +
                            "]: it contains a line break or a zero byte");
    }
    const std::string keyLine = std::string(key) + "=" + quoteIfNeeded(value);

    // A last line without a line ending gets one before anything is added after it.
    auto append = [this](std::size_t at, std::string text) {
        if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = newLine_;
        // A lone CR ending and an LF ending with nothing between them read back as one CR LF:
        // an empty added line after a CR, or an added CR before an empty line, would merge with
        // its neighbour. CR LF merges with neither.
        std::string eol = newLine_;
        const bool afterCr = at > 0 && lines_[at - 1].eol == "\r";
        const bool beforeEmptyLf =
            at < lines_.size() && lines_[at].text.empty() && lines_[at].eol.starts_with('\n');
        if ((text.empty() && afterCr && eol == "\n") || (eol == "\r" && beforeEmptyLf))
            eol = "\r\n";
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      Line{std::move(text), std::move(eol)});
    };

    const std::size_t header = findSection(section);
    if (header == npos) {
        if (!lines_.empty() && parse(lines_.back().text).kind != Kind::blank) {
            append(lines_.size(), "");
        }
        append(lines_.size(), "[" + std::string(section) + "]");
        append(lines_.size(), keyLine);
        return;
    }
    std::size_t insertAt = header + 1;
    for (std::size_t i = header + 1; i < lines_.size(); ++i) {
        const Parsed p = parse(lines_[i].text);
        if (p.kind == Kind::section) break;
        if (p.kind != Kind::key) continue;
        if (fw::sameText(p.name, key)) {
            lines_[i].text = keyLine;
            return;
        }
        insertAt = i + 1;
    }
    append(insertAt, keyLine);
}

std::string IniDocument::text() const {
    std::string out = bom_;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

} // namespace comport
