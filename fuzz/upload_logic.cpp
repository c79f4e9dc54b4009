// The upload logic against a board that answers in its own time: the input picks, for every item
// the board receives, its answer ("[N]" mostly, "[R]", "[L]", a version refusal, or none), the
// bytes around it (noise before it, a line end after it) and how long it takes over it; between
// those, the start button, time passing (the retry timer ticks as it falls due), noise on the
// line, port operations that fail, a cable pulled, the process stalled for longer than the quiet
// time, killed after any of its next steps (a port operation, the owed state kept), and a new run
// in a new UploadLogic (a new process on the port: it has only what the earlier one left with the
// port operations, while the board goes on answering what it was sent). The handler runs up to
// 50 ms after the bytes reached the port (the timer may tick meanwhile), and the line is a
// pseudo-terminal or a 9600-baud line with its exact crossing times.
//
// The board honours exactly the bound the logic states: it answers in the order it received, each
// item at most once, and while it has answers to give it is never silent for as long as the quiet
// time of the run that sent the item (each answer comes sooner than that quiet time after the
// later of its item's arrival and the answer before it). Noise is any bytes that do not form a
// reply, also not together with the bytes before them. The board has a memory: "[N]" to a record
// writes it, "[R]" to a record loses it (a rewrite that failed), "[L]" and the command erase
// everything; an item given no answer writes nothing.
//
// Checked after every event:
// - no run waits for an earlier run's answers longer than the longest wait;
// - only the programming-mode command or whole record lines go out (a line cut short only by a
//   write that failed, and ':' alone for the record 0 that "[R]" to the command asks for);
// - the counters, the labels and the progress bar stay in range;
// - "TRANSMISSÃO CONCLUIDA !!" is shown at most once per run, and only when the board's memory
//   holds every record.
#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/UploadLogic.h"
#include "upload/UploadTexts.h"
#include "upload/WindowSurface.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::int32_t totalRecords = 8; // a short image, so that runs can end

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "upload_logic: %s\n", what);
        std::abort();
    }
}

struct PortFailure {}; // what a failing port operation raises, as the component would
struct Killed {};      // the process ends there

// UPLOAD_LOGIC_TRACE=1 when replaying an input tells what happened, for reading a failure.
const bool tracing = std::getenv("UPLOAD_LOGIC_TRACE") != nullptr;
template <typename... Args> void trace(const char* format, Args... args) {
    if (tracing) std::fprintf(stderr, format, args...);
}

std::vector<std::uint8_t> rawBytes(std::string_view line) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(line.substr(i, 2)), nullptr, 16)));
    return bytes;
}

bool inRange(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    const int value = std::stoi(text);
    return value >= low && value <= high;
}

class Rig : public upload::PortOperations, public upload::WindowSurface {
public:
    explicit Rig(const std::uint8_t* data, std::size_t size) : in_(data), left_(size) {
        const upload::ImageLines image = upload::firmwareImage();
        for (std::int32_t r = 0; r < totalRecords; ++r)
            records_.push_back(rawBytes(image[static_cast<std::size_t>(r)]));
    }

    void run() {
        if (left_ > 0) {
            // How the session begins: the line's rate known or not, and answers the board still
            // owes an earlier session (each well within the bound from the one before).
            const std::uint8_t setup = next();
            rate_ = setup & 1 ? 9600 : 0;
            quiets_.push_back(std::chrono::seconds(2));
            for (int i = 0; i < (setup >> 1) % 4; ++i)
                board_.push_back(Item{-1, 'N', 0, clock_, 100, 0});
            // How long the window thread takes to run the handler after bytes reach the port.
            handlerDelay_ = std::chrono::milliseconds(left_ > 0 ? next() % 51 : 0);
        }
        while (left_ > 0) {
            // One process after another on the port, each with the upload logic afresh.
            upload::UploadLogic logic(*this, *this, upload::firmwareImage().first(totalRecords),
                                      totalRecords);
            logic_ = &logic;
            startEnabled_ = true;
            completions_ = 0;
            quiets_.push_back(logic.quietTime());
            try {
                while (left_ > 0 && !newProcess_)
                    step();
            } catch (const Killed&) {
                // A record cut short goes no further: the board drops it.
                trace("  %s\n", "killed");
                inRecord_ = false;
                partial_.clear();
            }
            newProcess_ = false;
            killAfter_ = 0;
            // The process ends: the port closes with it, and its quiet time stays what it was.
            quiets_.back() = logic.quietTime();
            dropLine();
            timerOn_ = false;
            logic_ = nullptr;
        }
    }

    // --- the port ---
    bool Connected() const override { return connected_; }
    void setPort(const std::string&) override { mayFail(); }
    void openPort() override {
        mayFail();
        if (connected_) return;
        connected_ = true;
        logic_->ComPort1AfterOpen();
    }
    void closePort() override {
        dropLine();
        mayFail();
    }
    void setDtrLine(bool) override { mayFail(); }
    void setRtsLine(bool) override { mayFail(); }
    std::int32_t writeText(const std::string& text) override {
        mayFail();
        stepTaken();
        if (!connected_) throw PortFailure{}; // as the component refuses it
        if (text == upload::programmingModeCommand) {
            endItem("the command sent inside a record");
            received(0, static_cast<std::int32_t>(text.size()));
        } else {
            check(text == ":", "a text other than the command or ':' sent");
            endItem("a record started inside another");
            inRecord_ = true;
        }
        return static_cast<std::int32_t>(text.size());
    }
    std::int32_t writeBytes(const std::uint8_t* bytes, std::int32_t count) override {
        mayFail();
        stepTaken();
        if (!connected_) throw PortFailure{};
        check(inRecord_, "record bytes sent without ':'");
        partial_.insert(partial_.end(), bytes, bytes + count);
        bool prefix = false;
        for (std::size_t r = 0; r < records_.size(); ++r) {
            const auto& record = records_[r];
            if (partial_.size() > record.size() ||
                !std::equal(partial_.begin(), partial_.end(), record.begin()))
                continue;
            prefix = true;
            if (partial_.size() == record.size()) {
                inRecord_ = false;
                partial_.clear();
                received(static_cast<std::int32_t>(r + 1),
                         static_cast<std::int32_t>(record.size() + 1));
                break;
            }
        }
        check(prefix, "bytes that are not a record of the image sent");
        return count;
    }
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override {
        mayFail();
        std::int32_t n = 0;
        for (; n < count && !input_.empty(); ++n) {
            buffer[n] = input_.front().first;
            lastRead_ = input_.front().second;
            input_.pop_front();
        }
        return n;
    }
    std::int32_t bytesWaiting() override {
        mayFail();
        return static_cast<std::int32_t>(input_.size());
    }
    std::uint32_t lineRate() const override { return rate_; }
    std::optional<Clock::time_point> lastReadArrival() const override { return lastRead_; }
    void keepOwed(const upload::OwedAnswers& owed) override {
        owed_ = owed;
        owedUntil_ = clock_ + owed.left;
        stepTaken(); // kept before the kill
    }
    upload::OwedAnswers owedBefore() override {
        upload::OwedAnswers owed = owed_;
        owed.left = std::max<std::chrono::nanoseconds>(owedUntil_ - clock_, {});
        if (owed.left <= std::chrono::nanoseconds::zero()) return {};
        // Kept beyond the process, it is cut down to the longest any run can be made to wait.
        owed.left = std::min<std::chrono::nanoseconds>(owed.left, upload::longestOwedWait);
        return owed;
    }

    // --- the window ---
    Clock::time_point now() const override { return clock_; }
    std::string comboBox1Text() const override { return ""; }
    void setBitBtn2Caption(const std::string&) override {}
    void setBitBtn2Enabled(bool enabled) override { startEnabled_ = enabled; }
    void setBitBtn6Enabled(bool) override {}
    void setLabel2(const std::string& text) override {
        check(text == std::to_string(totalRecords), "Label2 is not the record total");
    }
    void setLabel4(const std::string& text) override { check(inRange(text, 0, 5), "Label4"); }
    void setLabel7(const std::string& text) override {
        check(inRange(text, 1, totalRecords), "Label7");
    }
    void setLabel8(const std::string& text) override { check(inRange(text, 1, 4), "Label8"); }
    void setProgressBar1(int position) override {
        check(position >= 0 && position <= 100, "progress bar");
    }
    void setLampColor(std::uint32_t) override {}
    void setTimer1Enabled(bool enabled) override {
        // envia ends by starting the timer. "[R]" while the command is outstanding sends record
        // 0, which has no line: ':' alone, owed no answer, which the board drops as an incomplete
        // record after a moment of silence. No other line may end short.
        if (enabled && inRecord_ && partial_.empty() && logic_->recordIndex() == 0)
            inRecord_ = false;
        if (enabled && !timerOn_) timerDue_ = clock_ + std::chrono::seconds(1);
        timerOn_ = enabled;
    }
    void showMessage(const std::string& text) override {
        check(!text.empty(), "an empty message");
        trace("  message %s\n", text.c_str());
        if (text == upload::messageCompleted) completed();
        // The message box's modal loop lets a few events through.
        if (!inMessage_) {
            inMessage_ = true;
            const int events = left_ > 0 ? next() % 4 : 0;
            for (int i = 0; i < events && left_ > 0; ++i)
                step();
            inMessage_ = false;
        }
    }

private:
    // One item the board has received and still has to answer (or drop), in order.
    struct Item {
        std::int32_t item; // 0 the command, n record n, -1 an earlier session's
        char letter;       // 0: none (the item is dropped)
        std::uint8_t form; // noise before the reply (bit 0), a line end after it (bit 1)
        Clock::time_point arrived;
        std::uint8_t share; // of the quiet time it takes, in 256ths
        std::size_t run;    // the process whose quiet time bounds it
    };

    std::uint8_t next() {
        --left_;
        return *in_++;
    }

    // A step of the process: a kill armed for it ends the process right after it.
    void stepTaken() {
        if (killAfter_ > 0 && --killAfter_ == 0) throw Killed{};
    }

    void mayFail() {
        if (failNext_) {
            failNext_ = false;
            throw PortFailure{};
        }
    }

    void endItem(const char* what) { check(!inRecord_, what); }

    // A closed port keeps no input; the board goes on working through what it was sent.
    void dropLine() {
        connected_ = false;
        input_.clear();
        handlers_.clear();
    }

    // The board takes an item: the input decides its answer and how long it takes, and the
    // memory follows the answer at once.
    void received(std::int32_t item, std::int32_t bytes) {
        static constexpr char letters[] = {'N', 'N', 'N', 'N', 'N', 'R', 'R', 'L',
                                           'I', 'J', 'K', 0,   0,   'N', 'R', 'L'};
        const std::uint8_t how = left_ > 0 ? next() : 0;
        const std::uint8_t share = left_ > 0 ? next() : 0;
        const char letter = letters[how % 16];
        // The line carries one item after the other.
        lineFree_ = std::max(clock_, lineFree_) + crossing(bytes);
        board_.push_back(Item{item, letter, static_cast<std::uint8_t>(how >> 4 & 3), lineFree_,
                              share, quiets_.size() - 1});
        if (item == 0 || letter == 'L') memory_.clear(); // the board starts afresh
        if (item > 0 && letter == 'N') memory_.insert(item);
        if (item > 0 && letter == 'R') memory_.erase(item);
        trace("  board takes %s %d: %c, %d/256 of the quiet time\n", item ? "record" : "command",
              item, letter ? letter : '-', share);
    }

    // How long `bytes` take to cross the line: ten bits each, never less.
    Clock::duration crossing(std::size_t bytes) const {
        if (rate_ == 0) return {};
        return std::chrono::nanoseconds(
            (static_cast<long long>(bytes) * 10'000'000'000LL + rate_ - 1) / rate_);
    }
    static std::string replyBytes(const Item& item) {
        const std::string reply{'[', item.letter, ']'};
        return (item.form & 1 ? "~" : "") + reply + (item.form & 2 ? "\r\n" : "");
    }

    // The quiet time that bounds an item: its process's, as it stands now.
    Clock::duration quietOf(const Item& item) const {
        if (item.run + 1 == quiets_.size() && logic_) return logic_->quietTime();
        return quiets_[std::min(item.run, quiets_.size() - 1)];
    }

    // When the first item still to be answered is answered: within its quiet time of the later of
    // its arrival and the answer before it. Dropped items go at once, taking none of the time.
    std::optional<Clock::time_point> nextAnswer() {
        while (!board_.empty() && board_.front().letter == 0)
            board_.pop_front();
        if (board_.empty()) return std::nullopt;
        const Item& head = board_.front();
        const Clock::time_point from = std::max(head.arrived, lastAnswer_);
        // Its ']' comes within the quiet time, and never sooner than the reply can cross.
        const auto end = crossing(replyBytes(head).size()) - crossing(head.form & 2 ? 2 : 0);
        const auto quiet = quietOf(head) - std::chrono::microseconds(1);
        return from + std::max<Clock::duration>(end, quiet * head.share / 256);
    }

    void completed() {
        check(++completions_ == 1, "completion shown twice in one run");
        check(logic_->recordIndex() == totalRecords, "completion before the last record");
        for (std::int32_t r = 1; r <= totalRecords; ++r)
            check(memory_.count(r) == 1, "completion with a record missing from the board");
    }

    void checkState() const {
        const upload::UploadLogic& l = *logic_;
        check(l.recordIndex() >= 0 && l.recordIndex() <= totalRecords, "recordIndex out of range");
        check(l.attempts() >= 0 && l.attempts() <= 5, "attempts out of range");
        check(l.errorCount() >= 0 && l.errorCount() <= 4, "errorCount out of range");
        check(l.replyBuffer().size() <= 4, "reply buffer grows");
        check(l.earlierAnswersWait() <= upload::longestOwedWait, "a wait past the longest");
    }

    // Bytes arrive (the last one now, each after the one before as the line carries them) and
    // the port tells of them, once the handler gets to run.
    void arrive(const std::string& bytes) {
        if (!connected_) return; // a closed port receives nothing
        for (std::size_t i = 0; i < bytes.size(); ++i)
            input_.emplace_back(static_cast<std::uint8_t>(bytes[i]),
                                clock_ - crossing(bytes.size()) + crossing(i + 1));
        for (char c : bytes)
            tail_ = {tail_[1], c};
        handlers_.push_back(clock_ + handlerDelay_);
    }

    void handle() {
        handlers_.pop_front();
        if (!input_.empty() && connected_)
            logic_->ComPort1RxChar(static_cast<std::int32_t>(input_.size()));
    }

    // Time passes until `until`: the board's answers and the timer's ticks, in their order.
    void pass(Clock::time_point until) {
        for (;;) {
            const auto due = nextAnswer();
            // The process's own events wait while it is stalled; at its end, the tick first.
            const auto tickAt = std::max(timerDue_, frozenUntil_);
            const auto handlerAt =
                handlers_.empty() ? until : std::max(handlers_.front(), frozenUntil_);
            const bool answer = due && *due <= until;
            const bool tick = timerOn_ && tickAt <= until;
            const bool handler = !handlers_.empty() && handlerAt <= until;
            const auto process = tick && (!handler || tickAt <= handlerAt) ? tickAt : handlerAt;
            if (answer && (!(tick || handler) || *due <= process)) {
                const Item a = board_.front();
                board_.pop_front();
                clock_ = std::max(clock_, *due);
                lastAnswer_ = clock_;
                trace("  [%c] arrives at %lld ms%s\n", a.letter,
                      static_cast<long long>(sinceStart()), connected_ ? "" : " at a closed port");
                arrive(replyBytes(a));
            } else if (tick && (!handler || tickAt <= handlerAt)) {
                clock_ = std::max(clock_, tickAt);
                timerDue_ = clock_ + std::chrono::seconds(1);
                trace("  tick at %lld ms\n", static_cast<long long>(sinceStart()));
                logic_->Timer1Timer();
            } else if (handler) {
                clock_ = std::max(clock_, handlerAt);
                trace("  handler at %lld ms\n", static_cast<long long>(sinceStart()));
                handle();
            } else {
                break;
            }
            checkState();
        }
        clock_ = std::max(clock_, until);
    }

    long long sinceStart() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock_ - Clock::time_point{})
            .count();
    }

    // One event, chosen by the next input byte.
    void step() {
        const std::uint8_t op = next();
        static constexpr const char* names[] = {"press",        "time",  "noise",     "failure",
                                                "cable pulled", "time",  "time",      "time",
                                                "new process",  "stall", "kill armed"};
        trace("event: %s\n", names[op % 11]);
        try {
            switch (op % 11) {
            case 0: // the start button, while it can be pressed
                if (!startEnabled_) break;
                if (connected_) completions_ = 0; // a press on an open port starts a run
                logic_->BitBtn2Click();
                break;
            case 2: { // noise: any bytes that do not form a reply, with those before them either
                std::string noise;
                std::array<char, 2> tail = tail_;
                for (std::size_t n = left_ > 0 ? next() % 4 + 1 : 0; n > 0 && left_ > 0; --n) {
                    char c = static_cast<char>(next());
                    if (c == ']' && tail[0] == '[' && tail[1] >= 'A' && tail[1] <= 'Z') c = '?';
                    noise.push_back(c);
                    tail = {tail[1], c};
                }
                arrive(noise);
                break;
            }
            case 8: // the program is stopped (or killed) and started again
                newProcess_ = true;
                break;
            case 9: // the process stops for longer than the quiet time, from now
                frozenUntil_ = clock_ + logic_->quietTime() +
                               std::chrono::milliseconds(10 * (left_ > 0 ? next() : 0));
                pass(frozenUntil_);
                break;
            case 10: // the process is killed after one of its next steps
                killAfter_ = left_ > 0 ? next() % 64 + 1 : 1;
                break;
            case 3: // the next port operation fails
                failNext_ = true;
                break;
            case 4: // the cable is pulled: the port fails and reports itself closed
                failNext_ = true;
                dropLine();
                break;
            default: // time passes: up to 2.55 s
                pass(clock_ + std::chrono::milliseconds(10 * (left_ > 0 ? next() : 0)));
                break;
            }
        } catch (const PortFailure&) {
            // The failure travels to the window's error display; a record it cut short is the
            // only line that may go out unfinished.
            inRecord_ = false;
            partial_.clear();
        }
        check(!inRecord_, "a record line left unfinished");
        checkState();
    }

    const std::uint8_t* in_;
    std::size_t left_;
    upload::UploadLogic* logic_ = nullptr;
    std::vector<std::vector<std::uint8_t>> records_;

    Clock::time_point clock_{};
    std::uint32_t rate_ = 0;
    bool connected_ = false;
    bool failNext_ = false;
    bool startEnabled_ = true; // BitBtn2
    bool timerOn_ = false;
    Clock::time_point timerDue_{};
    bool inMessage_ = false;
    bool inRecord_ = false;
    std::vector<std::uint8_t> partial_;
    // Each byte waiting, with when it reached the port; the handler calls still to come.
    std::deque<std::pair<std::uint8_t, Clock::time_point>> input_;
    std::optional<Clock::time_point> lastRead_;
    std::deque<Clock::time_point> handlers_;
    Clock::duration handlerDelay_{};
    Clock::time_point frozenUntil_{}, lineFree_{};
    int killAfter_ = 0;

    std::deque<Item> board_;
    Clock::time_point lastAnswer_{};
    std::set<std::int32_t> memory_; // the records the board holds
    int completions_ = 0;
    std::array<char, 2> tail_{};          // the last bytes that reached the port
    std::vector<Clock::duration> quiets_; // each process's quiet time, the latest still growing
    bool newProcess_ = false;
    upload::OwedAnswers owed_; // what the port operations kept
    Clock::time_point owedUntil_{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig(data, size).run();
    return 0;
}
