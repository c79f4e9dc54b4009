#pragma once

#include "tools/monitor-sim/FlashMemory.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace monitorsim {

// Faults to play, keyed by item number: 0 is the programming-mode command, K >= 1 is record K as
// the host numbers it (see Monitor). Several faults on one item apply in this order: vanish, then
// silence, then rejection, then restart, each to the sends that got past the ones before it.
struct Faults {
    std::map<std::uint32_t, std::uint32_t> silent; // item -> how many first sends get no answer
    std::map<std::uint32_t, std::uint32_t> reject; // item -> how many sends are answered "[R]"
    std::set<std::uint32_t> restart;               // items answered "[L]" once
    std::map<std::uint32_t, std::uint32_t> stall;  // item -> ms the first answer to it is late
    std::optional<std::uint32_t> vanish;           // item at which the board goes away
    // (record, send) -> the letter that send of the record is answered with, after the board
    // has dealt with it: "[L]" so given erases the memory, "[R]" loses what the record wrote.
    std::map<std::pair<std::uint32_t, std::uint32_t>, char> answers;
    // (record, send) -> ms the answer to that send of the record leaves after the later of the
    // send's arrival and the answer before it.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> late;
    // (record, send) -> bytes that follow that send's answer in the same write.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> trail;
    // (record, send) -> ms after the next send of the record begins to arrive that this send's
    // answer leaves: a late answer crossing the retry on the line.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> cross;
    char commandReply = 'N'; // the answer to an accepted command
};

struct Statistics {
    std::uint64_t commands = 0;
    std::uint64_t recordsAccepted = 0;
    std::uint64_t recordsRejected = 0;
    std::uint64_t unanswered = 0;
};

// The Monitor's behaviour, without any input or output of its own: it is told of each command and
// each complete record and says what to answer.
//
// Record numbering follows the host's record index: the command is item 0; after "[N]" to item K
// the next record is K + 1, after "[L]" it is 1, and after "[R]" or no answer it is K again (the
// host sends the same record). A record whose bytes equal those of the record just accepted is a
// late second send of it (the host's retry crossed the "[N]"), and keeps its number. A new command
// starts a new run: numbering, the upper address and the flash rows to erase start afresh.
class Monitor {
public:
    enum class Action { answer, stayQuiet, vanish };
    struct Outcome {
        Action action = Action::answer;
        char letter = 'N';
        std::uint32_t item = 0;
        // Why a record was refused (empty for an accepted one and for a fault that was asked for).
        std::string problem;
        // How long the board stalls before this answer leaves (a --stall fault); the answers to
        // whatever arrives meanwhile wait behind it.
        std::chrono::milliseconds stall{0};
        // How long after the later of this item's arrival and the answer before it this answer
        // leaves (a --late fault).
        std::chrono::milliseconds late{0};
        // Bytes after the answer, in the same write (a --trail fault).
        std::string trail{};
        // Held until the record's next send begins to arrive, then this long (a --cross fault).
        std::optional<std::chrono::milliseconds> cross{};
    };

    Monitor(Faults faults, FlashMemory& memory);

    Outcome onCommand();
    // raw: the record's bytes after the ':', as RecordStream delivers them.
    Outcome onRecord(std::span<const std::uint8_t> raw);
    // The host closed the line: the next one starts with a command.
    void onHostGone();

    // True once a command has arrived since the host opened the line.
    bool receiving() const { return receiving_; }
    const Statistics& statistics() const { return stats_; }

private:
    // The fault answer for this send of item, if a fault applies.
    std::optional<Outcome> fault(std::uint32_t item);
    Outcome refuse(std::uint32_t item, std::string problem);
    Outcome stalling(Outcome outcome);
    Outcome store(std::uint32_t item, std::span<const std::uint8_t> raw);
    // An --answer fault on this send of the record: the board's state follows the answer.
    Outcome played(Outcome outcome, char letter, std::span<const std::uint8_t> raw);

    Faults faults_;
    FlashMemory& memory_;
    Statistics stats_;
    bool receiving_ = false;
    std::uint32_t next_ = 0; // number of the next record the host will send
    std::uint32_t base_ = 0; // address the record addresses are added to (type 02/04)
    std::optional<std::uint32_t> lastAccepted_;
    std::map<std::uint32_t, std::uint32_t> sends_; // per record, since the latest command
    std::vector<std::uint8_t> lastAcceptedBytes_;
};

} // namespace monitorsim
