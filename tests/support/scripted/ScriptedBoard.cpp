#include "tests/support/scripted/ScriptedBoard.h"

#include "framework/Exception.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <cstdio>

namespace upload::scripted {

namespace {

std::string hexByte(std::uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

// Byte count, address (2), type, data, checksum.
constexpr std::size_t recordOverhead = 5;

} // namespace

ScriptedBoard::ScriptedBoard(CallLog& log, ImageLines image)
    : responder(&ScriptedBoard::monitorAnswer), log_(log) {
    for (std::size_t i = 0; i < image.size(); ++i)
        if (!image[i].empty()) recordNumbers_.emplace(image[i], static_cast<int>(i + 1));
}

Reply ScriptedBoard::monitorAnswer(const Item& item) {
    switch (item.kind) {
    case Item::Kind::Command:
        return {std::string(replyNext)};
    case Item::Kind::Record:
        return {std::string(item.intact ? replyNext : replyResend)};
    case Item::Kind::Other:
        break;
    }
    return {};
}

void ScriptedBoard::setPort(const std::string& name) {
    log_.add("setPort " + name);
    portName_ = name;
}

void ScriptedBoard::openPort() {
    log_.add("openPort");
    if (open_) return;
    if (openFailure) throw fw::Exception(*openFailure);
    open_ = true;
    ++opens_;
    if (onAfterOpen) onAfterOpen();
}

void ScriptedBoard::closePort() {
    log_.add("closePort");
    if (!open_) return;
    open_ = false;
    ++closes_;
    // Closing drops whatever was on its way in.
    if (!answersOutliveClose) pending_.clear();
    input_.clear();
    record_.reset();
}

void ScriptedBoard::setDtrLine(bool on) {
    log_.add(on ? "setDtrLine on" : "setDtrLine off");
    dtr_ = on;
}

void ScriptedBoard::setRtsLine(bool on) {
    log_.add(on ? "setRtsLine on" : "setRtsLine off");
    rts_ = on;
}

void ScriptedBoard::spendBudget(std::size_t bytes) {
    if (!open_) throw fw::Exception("Port not open");
    if (writeBudget) {
        if (bytes > *writeBudget) throw fw::Exception(writeFailure);
        *writeBudget -= bytes;
    }
}

std::int32_t ScriptedBoard::writeText(const std::string& text) {
    log_.add("writeText " + text);
    spendBudget(text.size());
    wire_.insert(wire_.end(), text.begin(), text.end());
    // A text starts a new item; a record still incomplete is abandoned.
    record_.reset();
    if (text == ":") {
        record_.emplace();
    } else {
        Item item;
        item.kind = text == programmingModeCommand ? Item::Kind::Command : Item::Kind::Other;
        item.text = text;
        item.intact = item.kind == Item::Kind::Command;
        receive(std::move(item));
    }
    return static_cast<std::int32_t>(text.size());
}

std::int32_t ScriptedBoard::writeBytes(const std::uint8_t* bytes, std::int32_t count) {
    std::string entry = "writeBytes";
    for (std::int32_t i = 0; i < count; ++i)
        entry += " " + hexByte(bytes[i]);
    log_.add(std::move(entry));
    spendBudget(static_cast<std::size_t>(count));
    wire_.insert(wire_.end(), bytes, bytes + count);
    for (std::int32_t i = 0; i < count && record_; ++i) {
        record_->push_back(bytes[i]);
        const auto& r = *record_;
        if (r.size() < recordOverhead || r.size() < recordOverhead + r[0]) continue;
        Item item;
        item.kind = Item::Kind::Record;
        item.text = ":";
        unsigned sum = 0;
        for (auto b : r) {
            item.text += hexByte(b);
            sum += b;
        }
        item.intact = (sum & 0xFF) == 0;
        if (auto found = recordNumbers_.find(item.text); found != recordNumbers_.end())
            item.record = found->second;
        record_.reset();
        receive(std::move(item));
    }
    return count;
}

void ScriptedBoard::receive(Item item) {
    item.sequence = static_cast<int>(items_.size()) + 1;
    items_.push_back(item);
    const Reply reply = responder ? responder(items_.back()) : Reply{};
    if (reply.empty()) return;
    auto due = clock ? clock() : std::chrono::steady_clock::time_point{};
    if (answerDelay) due += answerDelay(items_.back());
    send(reply, due);
}

void ScriptedBoard::send(const Reply& chunks) {
    send(chunks, clock ? clock() : std::chrono::steady_clock::time_point{});
}

void ScriptedBoard::send(const Reply& chunks, std::chrono::steady_clock::time_point due) {
    // The board answers in order: nothing overtakes what it sent before.
    if (!pending_.empty()) due = std::max(due, pending_.back().due);
    for (const auto& c : chunks) {
        if (c.empty()) continue;
        pending_.push_back({due, c});
        replyBytes_ += c.size();
    }
}

bool ScriptedBoard::arrive() {
    if (!replyWaiting()) return false;
    const Chunk chunk = pending_.front();
    pending_.pop_front();
    for (char c : chunk.bytes)
        input_.emplace_back(static_cast<std::uint8_t>(c),
                            clock ? std::optional(chunk.due) : std::nullopt);
    return true;
}

std::optional<std::chrono::steady_clock::time_point> ScriptedBoard::nextArrival() const {
    if (!replyWaiting()) return std::nullopt;
    return pending_.front().due;
}

void ScriptedBoard::keepOwed(const OwedAnswers& owed) {
    kept = owed;
    keptAt = clock ? clock() : std::chrono::steady_clock::time_point{};
}

OwedAnswers ScriptedBoard::owedBefore() {
    if (!kept) return {};
    OwedAnswers owed = *kept;
    const auto now = clock ? clock() : keptAt;
    owed.left = std::max<std::chrono::nanoseconds>(owed.left - (now - keptAt), {});
    return owed.left > std::chrono::nanoseconds::zero() ? owed : OwedAnswers{};
}

std::int32_t ScriptedBoard::readBytes(std::uint8_t* buffer, std::int32_t count) {
    if (readFailure) throw fw::Exception(*readFailure);
    std::int32_t n = 0;
    while (n < count && !input_.empty()) {
        buffer[n++] = input_.front().first;
        lastRead_ = input_.front().second;
        input_.pop_front();
    }
    return n;
}

} // namespace upload::scripted
