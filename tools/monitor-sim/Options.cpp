#include "tools/monitor-sim/Options.h"

#include "cli/common/CommandLine.h"
#include "upload/MonitorArea.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <functional>
#include <map>

namespace monitorsim {
namespace {

std::optional<std::uint32_t> number(const std::string& text, std::uint32_t min, std::uint32_t max) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max)
        return std::nullopt;
    return value;
}

constexpr std::uint32_t maxItem = 1'000'000;
constexpr std::uint32_t maxCount = 1'000'000;

const char* const optionsGroup = "Options";
const char* const faultsGroup = "Faults (each may be given for several items)";

// One option, in the order --help lists them.
struct Entry {
    const char* name;
    const char* value; // the value's name in the help; none for a flag
    const char* help;
    const char* group;
    bool repeatable; // may be given for several items
};

const Entry entries[] = {
    {"--link", "PATH", "also make PATH a symbolic link to the serial end (removed on exit)",
     optionsGroup, false},
    {"--save", "FILE",
     "on exit (also on SIGTERM or SIGINT) write the programmed bytes to FILE as\nIntel HEX",
     optionsGroup, false},
    {"--once", nullptr, "exit when the uploader closes the line after at least one command",
     optionsGroup, false},
    {"--baud", "RATE",
     "model a line of RATE baud, 10 bits a byte: an answer leaves only when the\nitem's last "
     "byte would have arrived, and arrives after its own line time;\nhow late this process "
     "itself wakes up is taken out of the host's time",
     optionsGroup, false},
    {"--delay-ms", "N", "the board's own processing time for each record, in milliseconds",
     optionsGroup, false},
    {"--vary-ms", "N",
     "add to each record's --delay-ms a different amount from 0 to N milliseconds\n(the same "
     "sequence every run)",
     optionsGroup, false},
    {"--keep-answers", nullptr,
     "when the uploader closes the line, keep the answers still owed and send them\nto the next "
     "uploader when they fall due, as a board that does not know the PC\nlet go (those falling "
     "due while no uploader holds the line are lost)",
     optionsGroup, false},
    {"--resync-ms", "N",
     "silence in the middle of a record that drops it (default 500; keep it\nbelow the "
     "uploader's one-second retry)",
     optionsGroup, false},
    {"--verbose", nullptr, "log every command, record and answer on standard error", optionsGroup,
     false},
    {"--silent", "K:N", "give no answer to the first N sends of item K", faultsGroup, true},
    {"--reject", "K:M", "answer \"[R]\" to M sends of item K (after those --silent swallowed)",
     faultsGroup, true},
    {"--restart", "K", "answer \"[L]\" once, to item K", faultsGroup, true},
    {"--answer", "K:S:X",
     "answer the S-th send of record K (counted from the command) with \"[X]\",\nX a capital "
     "letter, once, after the board has dealt with it: \"[L]\" so given\nerases the whole "
     "memory, as a board that starts over, and \"[R]\" loses what\nthe record wrote, as a "
     "rewrite that failed",
     faultsGroup, true},
    {"--stall", "K:MS",
     "stall for MS milliseconds before answering the first send of item K; the\nsends that "
     "arrive meanwhile (the uploader's retries) are then answered\ntoo, one by one, as a board "
     "that was busy works through its input",
     faultsGroup, true},
    {"--late", "K:S:MS",
     "answer the S-th send of record K (counted from the command), once, MS\nmilliseconds after "
     "the later of its arrival and the answer before it",
     faultsGroup, true},
    {"--trail", "K:S:TEXT",
     "follow the answer to the S-th send of record K (counted from the command),\nonce, by TEXT "
     "in the same write (\\r, \\n and \\xHH escapes), as a board that\nends its replies "
     "with a line end or sends noise after one",
     faultsGroup, true},
    {"--cross", "K:S:MS",
     "hold the answer to the S-th send of record K (counted from the command),\nonce, until the "
     "record's next send begins to arrive, then let it leave MS\nmilliseconds later: a late "
     "answer that crosses the uploader's retry",
     faultsGroup, true},
    {"--version-reply", "X",
     "answer the command with \"[X]\", X a capital letter (I, J and K are the\nversion refusals)",
     faultsGroup, false},
    {"--noise", nullptr, "send 1 to 4 noise bytes (never '[') before each answer", faultsGroup,
     false},
    {"--split", nullptr,
     "send each answer in two writes, \"[\" then \"X]\" (1 ms apart without --baud)", faultsGroup,
     false},
    {"--trailing", nullptr, "follow each answer with \"\\r\\n\" in the same write", faultsGroup,
     false},
    {"--vanish", "K", "close the serial end when item K arrives, and exit with status 3",
     faultsGroup, false},
};

std::string description() {
    auto range = [](std::uint32_t begin, std::uint32_t end) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%04X-0x%04X", begin, end - 1);
        return std::string(text);
    };
    std::string text =
        R"text(Plays the Monitor of a Torvin04/05 board (PIC 18F452) on a pseudo-terminal. The first line on
standard output is the path of the terminal's serial end, for the uploader to open. Then it
answers the programming-mode command "(%P31)" with "[N]" and each record (':' and the record's
raw bytes) with "[N]" when its checksum is right and it could be written into the simulated
program memory, or with "[R]". The memory behaves as flash: @MEMORY@, erased bytes 0xFF, a
64-byte row erased at the first write of a run into it, bits only cleared within a run; the
Monitor's own area @MONITOR@ refuses writes ("[R]"). When the uploader closes the line the
simulator waits for the next open.

Items are numbered as the uploader numbers them: item 0 is the command, item K the record it sends
as record K. Sends of the same record again (after "[R]" or silence) keep its number; after "[L]"
numbering starts again at 1. A record with a wrong checksum is answered "[R]" and no fault counts
it.)text";
    text.replace(text.find("@MEMORY@"), 8,
                 range(upload::programMemoryBegin, upload::programMemoryEnd));
    text.replace(text.find("@MONITOR@"), 9,
                 range(upload::monitorAreaBegin, upload::monitorAreaEnd));
    return text;
}

const char* const footer =
    R"(On exit one summary line goes to standard error: records accepted, rejected, left unanswered,
data bytes written, bytes received.

Exit status:
  0    stopped by SIGTERM, SIGINT or SIGHUP, or --once done
  1    the pseudo-terminal, the link or the saved file failed
  3    vanished as --vanish asked
  64   bad usage)";

using Values = std::map<std::string, std::vector<std::string>>;

// The command line's options: flags set `o` at once, values are kept in `values` as given, for
// the checks below.
void describe(CLI::App& app, Options& o, Values& values) {
    toolcommon::setUpCommandLine(app, description(), footer, 22);
    const std::map<std::string, bool*> flags = {{"--noise", &o.noise},
                                                {"--split", &o.split},
                                                {"--trailing", &o.trailing},
                                                {"--once", &o.once},
                                                {"--keep-answers", &o.keepAnswers},
                                                {"--verbose", &o.verbose}};
    for (const Entry& e : entries) {
        CLI::Option* option = nullptr;
        if (!e.value) {
            option = app.add_flag(e.name, *flags.at(e.name), e.help);
        } else {
            option = app.add_option(e.name, values[e.name], e.help)
                         ->type_name(e.value)
                         ->expected(1)
                         ->allow_extra_args(false);
            if (e.repeatable) option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        }
        option->group(e.group);
    }
}

using Handler = std::function<std::string(const std::string&)>;

// "K:S:..." : a record number and a send of it, both from 1.
bool recordSend(const std::string& text, std::pair<std::uint32_t, std::uint32_t>& send) {
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) return false;
    const auto k = number(text.substr(0, first), 1, maxItem);
    const auto s = number(text.substr(first + 1, second - first - 1), 1, maxCount);
    if (!k || !s) return false;
    send = {*k, *s};
    return true;
}

// TEXT with \r, \n, \\ and \xHH read as the bytes they stand for; nothing for a bad escape.
std::optional<std::string> unescaped(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
        } else if (i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
            bytes += text[++i] == 'r' ? '\r' : '\n';
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes += text[++i];
        } else if (i + 3 < text.size() && text[i + 1] == 'x' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

// What each value means, and why it may be refused.
std::map<std::string, Handler> valueHandlers(Options& o) {
    auto pair = [](const std::string& text, std::uint32_t& item, std::uint32_t& count) {
        const auto colon = text.find(':');
        if (colon == std::string::npos) return false;
        auto k = number(text.substr(0, colon), 0, maxItem);
        auto n = number(text.substr(colon + 1), 1, maxCount);
        if (!k || !n) return false;
        item = *k;
        count = *n;
        return true;
    };
    auto itemCount = [&](std::map<std::uint32_t, std::uint32_t>& into) {
        return [&into, pair](const std::string& value) -> std::string {
            std::uint32_t item = 0, count = 0;
            if (!pair(value, item, count))
                return "expects K:N, K an item number (0 for the command) and N at least 1";
            if (!into.emplace(item, count).second) return "item " + value + " given twice";
            return {};
        };
    };
    auto milliseconds = [](std::chrono::milliseconds& into, std::uint32_t min) {
        return [&into, min](const std::string& value) -> std::string {
            auto n = number(value, min, 3'600'000);
            if (!n) return "expects a number of milliseconds";
            into = std::chrono::milliseconds(*n);
            return {};
        };
    };

    return std::map<std::string, Handler>{
        {"--link",
         [&](const std::string& v) {
             o.linkPath = v;
             return v.empty() ? "expects a path" : "";
         }},
        {"--save",
         [&](const std::string& v) {
             o.savePath = v;
             return v.empty() ? "expects a file name" : "";
         }},
        {"--silent", itemCount(o.faults.silent)},
        {"--reject", itemCount(o.faults.reject)},
        {"--stall", itemCount(o.faults.stall)},
        {"--restart",
         [&](const std::string& v) -> std::string {
             auto k = number(v, 0, maxItem);
             if (!k) return "expects an item number (0 for the command)";
             o.faults.restart.insert(*k);
             return {};
         }},
        {"--answer",
         [&](const std::string& v) -> std::string {
             std::pair<std::uint32_t, std::uint32_t> send;
             const std::string usage = "expects K:S:X, K a record number, S a send of it from 1 "
                                       "and X a capital letter";
             if (!recordSend(v, send) || v.size() != v.rfind(':') + 2) return usage;
             const char letter = v.back();
             if (letter < 'A' || letter > 'Z') return usage;
             if (!o.faults.answers.emplace(send, letter).second)
                 return "send " + v.substr(0, v.rfind(':')) + " given twice";
             return {};
         }},
        {"--late",
         [&](const std::string& v) -> std::string {
             std::pair<std::uint32_t, std::uint32_t> send;
             const auto ms = number(v.substr(v.rfind(':') + 1), 1, 3'600'000);
             if (!recordSend(v, send) || !ms)
                 return "expects K:S:MS, K a record number, S a send of it from 1 and MS a "
                        "number of milliseconds";
             if (!o.faults.late.emplace(send, *ms).second)
                 return "send " + v.substr(0, v.rfind(':')) + " given twice";
             return {};
         }},
        {"--trail",
         [&](const std::string& v) -> std::string {
             std::pair<std::uint32_t, std::uint32_t> send;
             const auto text = unescaped(v.substr(v.find(':', v.find(':') + 1) + 1));
             if (!recordSend(v, send) || !text || text->empty())
                 return "expects K:S:TEXT, K a record number, S a send of it from 1 and TEXT "
                        "some bytes (\\r, \\n, \\xHH)";
             if (!o.faults.trail.emplace(send, *text).second)
                 return "send " + v.substr(0, v.find(':', v.find(':') + 1)) + " given twice";
             return {};
         }},
        {"--cross",
         [&](const std::string& v) -> std::string {
             std::pair<std::uint32_t, std::uint32_t> send;
             const auto ms = number(v.substr(v.rfind(':') + 1), 0, 3'600'000);
             if (!recordSend(v, send) || !ms)
                 return "expects K:S:MS, K a record number, S a send of it from 1 and MS a "
                        "number of milliseconds";
             if (!o.faults.cross.emplace(send, *ms).second)
                 return "send " + v.substr(0, v.rfind(':')) + " given twice";
             return {};
         }},
        {"--vanish",
         [&](const std::string& v) -> std::string {
             auto k = number(v, 0, maxItem);
             if (!k) return "expects an item number (0 for the command)";
             if (o.faults.vanish) return "given twice";
             o.faults.vanish = *k;
             return {};
         }},
        {"--version-reply",
         [&](const std::string& v) -> std::string {
             if (v.size() != 1 || v[0] < 'A' || v[0] > 'Z') return "expects one capital letter";
             o.faults.commandReply = v[0];
             return {};
         }},
        {"--baud",
         [&](const std::string& v) -> std::string {
             auto rate = number(v, 50, 10'000'000);
             if (!rate) return "expects a rate from 50 to 10000000";
             o.baud = *rate;
             return {};
         }},
        {"--delay-ms", milliseconds(o.delay, 0)},
        {"--vary-ms", milliseconds(o.vary, 0)},
        {"--resync-ms", milliseconds(o.resync, 1)},
    };
}

} // namespace

std::string usageText() {
    CLI::App app("", "monitor-sim");
    Options o;
    Values values;
    describe(app, o, values);
    return app.help();
}

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions result;
    Options& o = result.options;
    CLI::App app("", "monitor-sim");
    Values values;
    describe(app, o, values);
    result.error = toolcommon::parseCommandLine(app, arguments, o.help, o.version);
    if (!result.error.empty() || o.help || o.version) return result;

    const auto handlers = valueHandlers(o);
    for (const Entry& e : entries) {
        if (!e.value) continue;
        for (const std::string& value : values[e.name]) {
            if (std::string problem = handlers.at(e.name)(value); !problem.empty()) {
                result.error = std::string(e.name) + " '" + value + "': " + problem;
                return result;
            }
        }
    }
    return result;
}

} // namespace monitorsim
