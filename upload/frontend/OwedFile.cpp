#include "upload/frontend/OwedFile.h"

#include "upload/frontend/RunDevice.h"

#include <algorithm>
#include <cstdio>

namespace upload::frontend {

namespace {

constexpr std::string_view prefix = "torvin owed-until-ms ";

std::int64_t wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

OwedFile::OwedFile(Warn warn) : warn_(std::move(warn)) {
    if (!warn_)
        warn_ = [](const std::string& text) {
            std::fprintf(stderr, "torvin: %s\n", text.c_str());
            std::fflush(stderr);
        };
}

OwedFile::~OwedFile() {
    close();
}

std::string OwedFile::line(std::int64_t untilMs) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*s%020lld\n", static_cast<int>(prefix.size()),
                  prefix.data(), static_cast<long long>(untilMs));
    return text;
}

std::optional<std::int64_t> OwedFile::parse(std::string_view text) {
    if (!text.starts_with(prefix)) return std::nullopt;
    text.remove_prefix(prefix.size());
    if (text.size() != 21 || text.back() != '\n') return std::nullopt;
    std::int64_t value = 0;
    for (char c : text.substr(0, 20)) {
        if (c < '0' || c > '9' || value > (INT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string OwedFile::nameFor(const std::string& deviceFile) {
    std::string name = "torvin-owed-";
    for (char c : deviceFile) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += plain ? c : '_';
    }
    return name;
}

void OwedFile::warnOnce(const std::string& text) {
    if (text == warned_) return;
    warned_ = text;
    warn_(text + "; a run started right after this one may take this one's late answers for "
                 "its own: wait a minute before the next run on this port");
}

void OwedFile::keep(const std::string& portName, std::chrono::nanoseconds left) {
    if (portName != name_) {
        close();
        name_ = portName;
        const std::string dir = folder();
        if (dir.empty() || !openForWriting(dir + "/" + nameFor(deviceFileOf(portName)))) return;
    }
    if (handle_ == -1) return;
    const std::int64_t until =
        wallMs() + std::chrono::ceil<std::chrono::milliseconds>(std::max(left, {})).count();
    if (until == lastWritten_) return;
    if (writeLine(line(until))) lastWritten_ = until;
}

std::chrono::nanoseconds OwedFile::read(const std::string& portName) {
    const std::string dir = folder();
    if (dir.empty()) return {};
    const std::string path = dir + "/" + nameFor(deviceFileOf(portName));
    const auto text = readFile(path);
    if (!text) return {};
    const auto until = parse(*text);
    if (!until) {
        warnOnce(path + " does not hold what this program writes there; it is not trusted");
        return {};
    }
    const std::int64_t left =
        std::min<std::int64_t>(*until - wallMs(), std::chrono::milliseconds(longest).count());
    return std::chrono::milliseconds(std::max<std::int64_t>(left, 0));
}

} // namespace upload::frontend
