#include "tools/monitor-sim/Monitor.h"

#include "tools/monitor-sim/HexRecord.h"

#include <algorithm>
#include <cstdio>

namespace monitorsim {
namespace {

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

Monitor::Monitor(Faults faults, FlashMemory& memory)
    : faults_(std::move(faults)), memory_(memory) {}

std::optional<Monitor::Outcome> Monitor::fault(std::uint32_t item) {
    if (faults_.vanish == item) return Outcome{Action::vanish, 0, item, {}};
    if (auto it = faults_.silent.find(item); it != faults_.silent.end() && it->second > 0) {
        --it->second;
        ++stats_.unanswered;
        return Outcome{Action::stayQuiet, 0, item, {}};
    }
    if (auto it = faults_.reject.find(item); it != faults_.reject.end() && it->second > 0) {
        --it->second;
        if (item != 0) ++stats_.recordsRejected;
        return Outcome{Action::answer, 'R', item, {}};
    }
    if (faults_.restart.erase(item) != 0) {
        next_ = 1;
        lastAccepted_.reset();
        return Outcome{Action::answer, 'L', item, {}};
    }
    return std::nullopt;
}

Monitor::Outcome Monitor::onCommand() {
    ++stats_.commands;
    receiving_ = true;
    next_ = 0;
    base_ = 0;
    lastAccepted_.reset();
    sends_.clear();
    memory_.beginRun();
    if (auto answer = fault(0)) return stalling(*answer);
    // The host sends record 1 after "[N]" and after "[L]".
    if (faults_.commandReply == 'N' || faults_.commandReply == 'L') next_ = 1;
    return stalling(Outcome{Action::answer, faults_.commandReply, 0, {}});
}

Monitor::Outcome Monitor::onRecord(std::span<const std::uint8_t> raw) {
    std::uint32_t item = next_;
    if (lastAccepted_ && *lastAccepted_ + 1 == next_ && std::ranges::equal(raw, lastAcceptedBytes_))
        item = *lastAccepted_;

    if (!RecordView::of(raw).checksumRight) return refuse(item, "checksum wrong");
    const std::uint32_t send = ++sends_[item];
    if (auto answer = fault(item)) return stalling(*answer);
    Outcome outcome = store(item, raw);
    // Each is played once: a later run's sends of the record count afresh and are not touched.
    if (auto it = faults_.answers.find({item, send}); it != faults_.answers.end()) {
        outcome = played(outcome, it->second, raw);
        faults_.answers.erase(it);
    }
    if (auto it = faults_.late.find({item, send}); it != faults_.late.end()) {
        outcome.late = std::chrono::milliseconds(it->second);
        faults_.late.erase(it);
    }
    if (auto it = faults_.trail.find({item, send}); it != faults_.trail.end()) {
        outcome.trail = std::move(it->second);
        faults_.trail.erase(it);
    }
    if (auto it = faults_.cross.find({item, send}); it != faults_.cross.end()) {
        outcome.cross = std::chrono::milliseconds(it->second);
        faults_.cross.erase(it);
    }
    return stalling(outcome);
}

Monitor::Outcome Monitor::played(Outcome outcome, char letter, std::span<const std::uint8_t> raw) {
    if (letter == 'L') {
        // Asked to start over, the board has nothing left of this run.
        memory_.eraseAll();
        next_ = 1;
        lastAccepted_.reset();
    } else if (letter == 'R' && outcome.letter == 'N') {
        const RecordView record = RecordView::of(raw);
        if (record.type == static_cast<std::uint8_t>(RecordType::data))
            memory_.lose(std::uint64_t{base_} + record.address, record.byteCount);
        --stats_.recordsAccepted;
        ++stats_.recordsRejected;
    }
    outcome.letter = letter;
    return outcome;
}

Monitor::Outcome Monitor::stalling(Outcome outcome) {
    // Only an answer stalls, and only the first one to the item.
    if (outcome.action != Action::answer) return outcome;
    if (auto it = faults_.stall.find(outcome.item); it != faults_.stall.end()) {
        outcome.stall = std::chrono::milliseconds(it->second);
        faults_.stall.erase(it);
    }
    return outcome;
}

Monitor::Outcome Monitor::store(std::uint32_t item, std::span<const std::uint8_t> raw) {
    const RecordView record = RecordView::of(raw);
    switch (static_cast<RecordType>(record.type)) {
    case RecordType::data: {
        const std::uint64_t address = std::uint64_t{base_} + record.address;
        const std::string range = hex(address) + "-" + hex(address + record.byteCount - 1);
        switch (memory_.program(address, record.data)) {
        case FlashMemory::WriteResult::written:
            break;
        case FlashMemory::WriteResult::outsideMemory:
            return refuse(item, "writes " + range + ", outside program memory " +
                                    hex(memory_.begin()) + "-" + hex(memory_.end() - 1));
        case FlashMemory::WriteResult::monitorArea:
            return refuse(item, "writes " + range + ", into the Monitor's own area " +
                                    hex(memory_.protectedBegin()) + "-" +
                                    hex(memory_.protectedEnd() - 1));
        case FlashMemory::WriteResult::needsErase:
            return refuse(item, "writes " + range +
                                    " over bytes already programmed in this run with other "
                                    "values (flash can only clear bits)");
        }
        break;
    }
    case RecordType::extendedLinearAddress:
    case RecordType::extendedSegmentAddress:
        if (record.byteCount != 2) return refuse(item, "address record without two data bytes");
        base_ = static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1]);
        base_ <<=
            record.type == static_cast<std::uint8_t>(RecordType::extendedLinearAddress) ? 16 : 4;
        break;
    case RecordType::endOfFile:
    case RecordType::startSegmentAddress:
    case RecordType::startLinearAddress:
        break; // nothing to store
    default:
        return refuse(item, "unknown record type " + hex(record.type));
    }
    ++stats_.recordsAccepted;
    if (item == next_) ++next_;
    lastAccepted_ = item;
    lastAcceptedBytes_.assign(raw.begin(), raw.end());
    return Outcome{Action::answer, 'N', item, {}};
}

Monitor::Outcome Monitor::refuse(std::uint32_t item, std::string problem) {
    ++stats_.recordsRejected;
    return Outcome{Action::answer, 'R', item, std::move(problem)};
}

void Monitor::onHostGone() {
    receiving_ = false;
    next_ = 0;
    base_ = 0;
    lastAccepted_.reset();
}

} // namespace monitorsim
