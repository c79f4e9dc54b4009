#include "upload/runlog/RunLog.h"

#include "upload/ProgramVersion.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace runlog {
namespace {

class Sha256 {
public:
    Sha256() : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 is not available from libcrypto");
    }
    void add(const void* data, std::size_t size) { EVP_DigestUpdate(context_.get(), data, size); }
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(context_.get(), digest, &size);
        static constexpr char digits[] = "0123456789abcdef";
        std::string text;
        for (unsigned int i = 0; i < size; ++i) {
            text += digits[digest[i] >> 4];
            text += digits[digest[i] & 0x0F];
        }
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context_;
};

nlohmann::ordered_json orNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

std::string systemError() {
    return std::strerror(errno);
}

} // namespace

std::string utcText(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
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
    std::ifstream file(path, std::ios::binary);
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

RunLog::RunLog(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd_ < 0)
        throw std::runtime_error("cannot open the run log " + path_ + ": " + systemError());
}

RunLog::~RunLog() {
    if (fd_ >= 0) ::close(fd_);
}

void RunLog::append(const RunRecord& record) {
    const std::string line = jsonLine(record) + "\n";
    // One write: with O_APPEND the line lands whole at the end, whoever else appends.
    const ssize_t written = ::write(fd_, line.data(), line.size());
    if (written < 0 || static_cast<std::size_t>(written) != line.size())
        throw std::runtime_error("cannot write the run log " + path_ + ": " +
                                 (written < 0 ? systemError() : std::string("disk full")));
    // A log on a regular file is kept through a power cut; a pipe or a terminal cannot be synced.
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        throw std::runtime_error("cannot write the run log " + path_ + ": " + systemError());
}

} // namespace runlog
