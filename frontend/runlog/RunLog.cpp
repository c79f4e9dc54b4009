#include "frontend/runlog/RunLog.h"

#include "frontend/runlog/Sha256.h"
#include "upload/ProgramVersion.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace runlog {
namespace {

nlohmann::ordered_json orNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

std::string systemError() {
    return std::strerror(errno);
}

} // namespace

std::string hexText(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string utcText(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

std::string jsonLine(const RunRecord& r) {
    // In the order a person reads a record: when, what, where, with which image, how it went.
    const nlohmann::ordered_json object = {
        {"started", utcText(r.started)},
        {"program", r.program},
        {"version", programVersion()},
        {"port", r.port},
        {"device", r.device},
        {"adapter_serial", orNull(r.adapterSerial)},
        {"image", r.image},
        {"image_path", orNull(r.imagePath)},
        {"image_sha256", r.imageSha256},
        {"image_records", r.imageRecords},
        {"image_warning", orNull(r.imageWarning)},
        {"outcome", r.outcome},
        {"exit_status", r.exitStatus},
        {"records_acknowledged", r.recordsAcknowledged},
        {"resends", r.resends},
        {"refusals", r.refusals},
        {"seconds", std::round(r.duration.count() * 1000) / 1000},
    };
    // Bytes that are no UTF-8 (a port name is any path) are replaced, not a reason to lose the
    // record.
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string sha256OfLines(upload::ImageLines lines) {
    Sha256 sha;
    for (std::string_view line : lines) {
        sha.add(line.data(), line.size());
        sha.add("\n", 1);
    }
    return sha.hex();
}

std::string sha256OfFile(const std::string& path) {
    // Names are UTF-8 on every platform.
    std::ifstream file(std::filesystem::path(std::u8string(path.begin(), path.end())),
                       std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path + ": " + systemError());
    Sha256 sha;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0)
        sha.add(buffer, static_cast<std::size_t>(file.gcount()));
    if (file.bad()) throw std::runtime_error("cannot read " + path + ": " + systemError());
    return sha.hex();
}

std::string programVersion() {
    return upload::programVersion();
}

RunLog::RunLog(std::string path) : path_(path), file_(std::move(path)) {}

RunLog::~RunLog() = default;

void RunLog::append(const RunRecord& record) {
    file_.append(jsonLine(record) + "\n");
}

} // namespace runlog
