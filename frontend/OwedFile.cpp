#include "frontend/OwedFile.h"

#include "framework/Translation.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace upload::frontend {

namespace {

using std::chrono::nanoseconds;

constexpr std::string_view head = "torvin-owed 2 boot ";
constexpr std::size_t bootDigits = 32;
const std::string noBoot(bootDigits, '0');
constexpr std::string_view filePrefix = "torvin-owed-";
// More files for one key than any number of users leaves is someone filling the folder: the run
// then waits the longest rather than read them all.
constexpr std::size_t mostFiles = 64;

// The unsigned decimal number of exactly `digits` digits at the start of `text`, which is
// consumed; none when it is not there or above `most`.
std::optional<std::int64_t> number(std::string_view& text, std::size_t digits, std::int64_t most) {
    if (text.size() < digits) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text.substr(0, digits)) {
        if (c < '0' || c > '9' || value > (most - (c - '0')) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    text.remove_prefix(digits);
    return value;
}

bool word(std::string_view& text, std::string_view expected) {
    if (!text.starts_with(expected)) return false;
    text.remove_prefix(expected.size());
    return true;
}

// A name's text as a file name may hold it, never with the '@' that ends a key; a long one by a
// digest (two names that come out alike only make a run wait for the other's debt too).
std::string fileNamePart(const std::string& text) {
    std::string part;
    for (char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        part += plain ? c : '_';
    }
    if (part.size() <= 120) return part;
    std::uint64_t hash = 14695981039346656037u; // FNV-1a
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211u;
    char digest[24];
    std::snprintf(digest, sizeof digest, "h%016llx", static_cast<unsigned long long>(hash));
    return part.substr(0, 100) + digest;
}

} // namespace

OwedFile::OwedFile(Warn warn) : OwedFile(std::move(warn), systemFolder(), &systemClock) {}

OwedFile::OwedFile(Warn warn, std::string folder, Clock clock)
    : warn_(std::move(warn)), folder_(std::move(folder)), clock_(std::move(clock)) {
    if (!warn_)
        warn_ = [](const std::string& text) {
            std::fprintf(stderr, "torvin: %s\n", text.c_str());
            std::fflush(stderr);
        };
}

OwedFile::~OwedFile() {
    closeAll();
}

std::string OwedFile::line(const Entry& e) {
    char text[160];
    std::snprintf(text, sizeof text, "%.*s%s at %020lld answers %010d quiet %020lld left %020lld\n",
                  static_cast<int>(head.size()), head.data(),
                  e.boot.size() == bootDigits ? e.boot.c_str() : noBoot.c_str(),
                  static_cast<long long>(std::max(e.at, nanoseconds{}).count()),
                  std::max(e.answers, 0),
                  static_cast<long long>(std::max(e.quiet, nanoseconds{}).count()),
                  static_cast<long long>(std::max(e.left, nanoseconds{}).count()));
    return text;
}

std::optional<OwedFile::Entry> OwedFile::parse(std::string_view text) {
    Entry e;
    if (!word(text, head) || text.size() < bootDigits) return std::nullopt;
    e.boot = std::string(text.substr(0, bootDigits));
    text.remove_prefix(bootDigits);
    if (!std::all_of(e.boot.begin(), e.boot.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return std::nullopt;
    if (e.boot == noBoot) e.boot.clear();
    constexpr std::int64_t anyTime = INT64_MAX;
    std::optional<std::int64_t> at, answers, quiet, left;
    if (!word(text, " at ") || !(at = number(text, 20, anyTime)) || !word(text, " answers ") ||
        !(answers = number(text, 10, INT32_MAX)) || !word(text, " quiet ") ||
        !(quiet = number(text, 20, anyTime)) || !word(text, " left ") ||
        !(left = number(text, 20, anyTime)) || text != "\n")
        return std::nullopt;
    e.at = nanoseconds(*at);
    e.answers = static_cast<std::int32_t>(*answers);
    e.quiet = nanoseconds(*quiet);
    e.left = nanoseconds(*left);
    return e;
}

OwedAnswers OwedFile::stillOwed(const Entry& e, const BootTime& now) {
    if (e.answers <= 0 || e.left <= nanoseconds{}) return {};
    nanoseconds passed{};
    if (!e.boot.empty() && !now.boot.empty())
        // Written in another boot: at least this boot's time has passed since.
        passed = e.boot == now.boot ? std::max(now.sinceBoot - e.at, nanoseconds{}) : now.sinceBoot;
    else
        // The boot unknown: a time not yet reached on this boot's clock was written in another.
        passed = e.at <= now.sinceBoot ? now.sinceBoot - e.at : now.sinceBoot;
    const nanoseconds longest = longestOwedWait;
    const nanoseconds left = std::min(e.left, longest) - passed;
    if (left <= nanoseconds{}) return {};
    return OwedAnswers{e.answers, std::min(e.quiet, longest), left};
}

std::vector<std::string> OwedFile::keysOf(const std::string& portName) {
    std::vector<std::string> keys{"path-" + fileNamePart(nameOf(portName))};
    if (const auto device = deviceOf(portName)) keys.push_back("device-" + *device);
    return keys;
}

std::vector<std::string> OwedFile::ownFileNames(const std::string& portName) {
    std::vector<std::string> names;
    for (const std::string& key : keysOf(portName))
        names.push_back(std::string(filePrefix) + key + "@" + userTag());
    return names;
}

std::string OwedFile::pathOf(const std::string& name) const {
#ifdef _WIN32
    return folder_ + "\\" + name;
#else
    return folder_ + "/" + name;
#endif
}

void OwedFile::warnOnce(const std::string& text) {
    if (text == warned_) return;
    warned_ = text;
    warn_(text);
}

void OwedFile::closeAll() {
    for (std::intptr_t h : handles_)
        closeHandle(h);
    handles_.clear();
    keys_.clear();
}

void OwedFile::keep(const std::string& portName, const OwedAnswers& owed) {
    std::string problem, where;
    const auto fail = [&] {
        closeAll();
#ifdef _WIN32
        const std::string text = fw::tr(
            "cannot keep word of what the board may still owe ({1}: {2}), so nothing more is "
            "sent: a later run on this port could take this run's late answers for its own. Make "
            "sure the folder {3} exists and every user may create files in it, then run the "
            "upload again.",
            {where, problem, folder_});
#else
        const std::string text = fw::tr(
            "cannot keep word of what the board may still owe ({1}: {2}), so nothing more is "
            "sent: a later run on this port could take this run's late answers for its own. Make "
            "sure the folder {3} exists and every user may write into it (owned by root, mode "
            "1777), then run the upload again.",
            {where, problem, folder_});
#endif
        throw std::runtime_error(text);
    };
    // Looked up at every call (a few microseconds): the device behind the name may have been
    // numbered anew while the port was closed.
    std::vector<std::string> keys = keysOf(portName);
    if (keys != keys_) {
        closeAll();
        for (const std::string& name : ownFileNames(portName)) {
            where = pathOf(name);
            const std::intptr_t h = openOwn(name, problem);
            if (h == -1) fail();
            handles_.push_back(h);
        }
        keys_ = std::move(keys);
    }
    const BootTime now = clock_();
    Entry e{now.boot, now.sinceBoot, 0, {}, {}};
    if (owed.owesAny()) {
        e.answers = owed.answers;
        e.quiet = owed.quiet;
        e.left = owed.left;
    }
    const std::string text = line(e);
    for (std::intptr_t h : handles_) {
        where = folder_;
        if (!writeLine(h, text, problem)) fail();
    }
}

OwedAnswers OwedFile::read(const std::string& portName) {
    std::string problem;
    const auto names = namesInFolder(problem);
    if (!names) {
        warnOnce("cannot look into " + folder_ + " for what an earlier run left owed: " + problem);
        return {};
    }
    const BootTime now = clock_();
    OwedAnswers most;
    for (const std::string& key : keysOf(portName)) {
        const std::string prefix = std::string(filePrefix) + key + "@";
        std::vector<std::string> found;
        std::copy_if(names->begin(), names->end(), std::back_inserter(found),
                     [&](const std::string& name) { return name.starts_with(prefix); });
        if (found.size() > mostFiles) {
            warnOnce(std::to_string(found.size()) + " files in " + folder_ + " start with " +
                     prefix + ", more than any run leaves: the run waits the longest, " +
                     std::to_string(longestOwedWait.count()) +
                     " minutes. Ask the administrator to remove them.");
            return OwedAnswers{INT32_MAX, longestOwedWait, longestOwedWait};
        }
        for (const std::string& name : found) {
            const auto text = readSmall(name, problem);
            if (!text) {
                warnOnce(pathOf(name) + " " + problem + "; it is not counted");
                continue;
            }
            if (text->empty()) continue; // being made: nothing written yet
            const auto entry = parse(*text);
            if (!entry) {
                warnOnce(pathOf(name) +
                         " does not hold what this program writes there; it is not counted. "
                         "Ask the administrator to remove it.");
                continue;
            }
            const OwedAnswers owed = stillOwed(*entry, now);
            most.answers = std::max(most.answers, owed.answers);
            most.quiet = std::max(most.quiet, owed.quiet);
            most.left = std::max(most.left, owed.left);
        }
    }
    return most.owesAny() ? most : OwedAnswers{};
}

} // namespace upload::frontend
