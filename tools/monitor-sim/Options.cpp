#include "tools/monitor-sim/Options.h"

#include "upload/MonitorArea.h"

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

} // namespace

std::string usageText() {
    auto range = [](std::uint32_t begin, std::uint32_t end) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%04X-0x%04X", begin, end - 1);
        return std::string(text);
    };
    std::string text = R"usage(Usage: monitor-sim [OPTION]...
Plays the Monitor of a Torvin04/05 board (PIC 18F452) on a pseudo-terminal. The first line on
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
it.

Options:
  --link PATH         also make PATH a symbolic link to the serial end (removed on exit)
  --save FILE         on exit (also on SIGTERM or SIGINT) write the programmed bytes to FILE as
                      Intel HEX
  --once              exit when the uploader closes the line after at least one command
  --baud RATE         model a line of RATE baud, 10 bits a byte: an answer leaves only when the
                      item's last byte would have arrived, and arrives after its own line time
  --delay-ms N        the board's own processing time for each record, in milliseconds
  --resync-ms N       silence in the middle of a record that drops it (default 500; keep it
                      below the uploader's one-second retry)
  --verbose           log every command, record and answer on standard error
  --help              show this text and exit

Faults (each may be given for several items):
  --silent K:N        give no answer to the first N sends of item K
  --reject K:M        answer "[R]" to M sends of item K (after those --silent swallowed)
  --restart K         answer "[L]" once, to item K
  --stall K:MS        stall for MS milliseconds before answering the first send of item K; the
                      sends that arrive meanwhile (the uploader's retries) are then answered
                      too, one by one, as a board that was busy works through its input
  --version-reply X   answer the command with "[X]", X a capital letter (I, J and K are the
                      version refusals)
  --noise             send 1 to 4 noise bytes (never '[') before each answer
  --split             send each answer in two writes, "[" then "X]" (1 ms apart without --baud)
  --trailing          follow each answer with "\r\n" in the same write
  --vanish K          close the serial end when item K arrives, and exit with status 3

On exit one summary line goes to standard error: records accepted, rejected, left unanswered,
data bytes written, bytes received.

Exit status: 0 stopped by SIGTERM, SIGINT or SIGHUP, or --once done; 1 the pseudo-terminal, the
link or the saved file failed; 3 vanished as --vanish asked; 64 bad usage.
)usage";
    text.replace(text.find("@MEMORY@"), 8,
                 range(upload::programMemoryBegin, upload::programMemoryEnd));
    text.replace(text.find("@MONITOR@"), 9,
                 range(upload::monitorAreaBegin, upload::monitorAreaEnd));
    return text;
}

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions result;
    Options& o = result.options;

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

    using Handler = std::function<std::string(const std::string&)>;
    const std::map<std::string, Handler> withValue = {
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
        {"--resync-ms", milliseconds(o.resync, 1)},
    };
    const std::map<std::string, bool*> flags = {
        {"--noise", &o.noise}, {"--split", &o.split},     {"--trailing", &o.trailing},
        {"--once", &o.once},   {"--verbose", &o.verbose}, {"--help", &o.help},
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (auto flag = flags.find(name); flag != flags.end()) {
            if (value) {
                result.error = name + " takes no value";
                return result;
            }
            *flag->second = true;
            continue;
        }
        auto option = withValue.find(name);
        if (option == withValue.end()) {
            result.error = "unknown option '" + arguments[i] + "'";
            return result;
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = arguments[++i];
        }
        if (std::string problem = option->second(*value); !problem.empty()) {
            result.error = name + " '" + *value + "': " + problem;
            return result;
        }
    }
    return result;
}

} // namespace monitorsim
