#pragma once

#include "tests/support/scripted/CallLog.h"
#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace upload::scripted {

// One complete item the board received: the command text, or a record (':' and its bytes).
struct Item {
    enum class Kind { Command, Record, Other };
    Kind kind = Kind::Other;
    int sequence = 0;    // 1-based, among every item received
    std::string text;    // the command as sent, or the record as an upper-case hex line with ':'
    int record = 0;      // the image's record number (1-based) when the line is one of the image's
    bool intact = false; // the known command, or a record whose length and checksum are right
};

// The board's answer to one item, as the chunks in which it arrives: each chunk is delivered in
// its own received-characters event. No chunks: the board stays silent.
using Reply = std::vector<std::string>;

// A board with its Monitor, behind the port operations: it records every byte on the wire, cuts
// what the PC writes into items (the text written by one writeText call starts an item; a ':'
// starts a record that ends with its checksum byte) and answers each item through `responder`.
// Replies wait until the driver lets them arrive (`arrive`), so they reach the upload logic as
// separate events, as they would from a real port. Faults are scripted with the members below.
class ScriptedBoard : public PortOperations {
public:
    explicit ScriptedBoard(CallLog& log, ImageLines image = firmwareImage());

    // How the Monitor answers: "[N]" to the programming-mode command and to an intact record,
    // "[R]" to a damaged record, nothing to anything else.
    static Reply monitorAnswer(const Item& item);

    // Decides each answer; starts as monitorAnswer.
    std::function<Reply(const Item&)> responder;
    // How long the board takes over each answer (nothing by default): the answer arrives that
    // long after the item, and never before the answer to the item before it.
    std::function<std::chrono::steady_clock::duration(const Item&)> answerDelay;
    // The clock the delays count by (the window's, in a rig); without it answers are due at once.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // Answers still owed are kept when the port closes and arrive after it opens again, as a
    // board that does not know the PC closed its port; by default closing drops them.
    bool answersOutliveClose = false;
    // The line moves this many bits a second (lineRate()); 0 for at once.
    std::uint32_t rate = 0;
    // What the upload logic last kept of the answers owed, and when (on the board's clock); read
    // back as the port opens, less the time gone by, as a later run on the port would.
    std::optional<OwedAnswers> kept;
    std::chrono::steady_clock::time_point keptAt{};
    // Fired after a successful open, as the port's OnAfterOpen.
    std::function<void()> onAfterOpen;

    // Scripted faults: opening raises with this message while it is set; a write that would take
    // more than `writeBudget` bytes raises `writeFailure` (nothing of it is written); reading
    // raises with `readFailure` while it is set.
    std::optional<std::string> openFailure;
    std::optional<std::size_t> writeBudget;
    std::string writeFailure = "Write error on the serial port (Error: 5)";
    std::optional<std::string> readFailure;

    // PortOperations
    bool Connected() const override { return open_; }
    void setPort(const std::string& name) override;
    void openPort() override;
    void closePort() override;
    void setDtrLine(bool on) override;
    void setRtsLine(bool on) override;
    std::int32_t writeText(const std::string& text) override;
    std::int32_t writeBytes(const std::uint8_t* bytes, std::int32_t count) override;
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override;
    std::int32_t bytesWaiting() override { return static_cast<std::int32_t>(input_.size()); }
    std::uint32_t lineRate() const override { return rate; }
    // With a clock, a chunk reaches the port when it is due (arrive() may let it in later, as a
    // handler that runs late reads it): its bytes are stamped with that time.
    std::optional<std::chrono::steady_clock::time_point> lastReadArrival() const override {
        return lastRead_;
    }

    void keepOwed(const OwedAnswers& owed) override;
    OwedAnswers owedBefore() override;

    // Lets the next waiting chunk arrive in the port's input; false when none waits (or the port
    // is closed).
    bool arrive();
    bool replyWaiting() const { return open_ && !pending_.empty(); }
    // When the next waiting chunk is due to arrive; nothing when none waits.
    std::optional<std::chrono::steady_clock::time_point> nextArrival() const;
    // Queues bytes as if the board had sent them unasked.
    void send(const Reply& chunks);
    // The same, arriving no sooner than `due`.
    void send(const Reply& chunks, std::chrono::steady_clock::time_point due);

    // What happened on the line.
    const std::vector<std::uint8_t>& wire() const { return wire_; }
    const std::vector<Item>& items() const { return items_; }
    std::size_t replyBytes() const { return replyBytes_; }
    const std::string& portName() const { return portName_; }
    bool dtr() const { return dtr_; }
    bool rts() const { return rts_; }
    int opens() const { return opens_; }
    int closes() const { return closes_; }

private:
    void spendBudget(std::size_t bytes);
    void receive(Item item);

    CallLog& log_;
    std::unordered_map<std::string_view, int> recordNumbers_;
    bool open_ = false;
    std::string portName_;
    bool dtr_ = false;
    bool rts_ = false;
    int opens_ = 0;
    int closes_ = 0;
    std::vector<std::uint8_t> wire_;
    std::vector<Item> items_;
    std::optional<std::vector<std::uint8_t>> record_; // bytes of the record being received
    struct Chunk {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
    };
    std::deque<Chunk> pending_;
    // Each byte waiting, with when it reached the port when the board has a clock.
    std::deque<std::pair<std::uint8_t, std::optional<std::chrono::steady_clock::time_point>>>
        input_;
    std::optional<std::chrono::steady_clock::time_point> lastRead_;
    std::size_t replyBytes_ = 0;
};

} // namespace upload::scripted
