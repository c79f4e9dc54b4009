// The upload logic against a board that answers in its own time: the input picks, for every item
// the board receives, its answer ("[N]" mostly, "[R]", "[L]", a version refusal, or none) and how
// long it takes over it; between those, the start button, time passing (the retry timer ticks as
// it falls due), noise on the line, port operations that fail and a cable pulled. The board may
// also still owe answers to an earlier session when the run begins, and keeps what it owes when
// the port closes.
//
// The board honours the bound the logic relies on: each answer comes less than two seconds after
// the later of its item's arrival and the answer before it, so while it has answers to give it is
// never silent that long. It answers in the order it received, one answer an item; noise never
// holds '[', ']' or a capital letter, so it can spoil an answer but never make one.
//
// Checked after every event:
// - only the programming-mode command or whole record lines go out (a line cut short only by a
//   write that failed, and ':' alone for the record 0 that "[R]" to the command asks for);
// - the counters, the labels and the progress bar stay in range;
// - "TRANSMISSÃO CONCLUIDA !!" is shown at most once per run, and only when the board has
//   accepted every record since it last received the command.
#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/UploadLogic.h"
#include "upload/UploadTexts.h"
#include "upload/WindowSurface.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::int32_t totalRecords = 3; // a short image, so that runs can end

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "upload_logic: %s\n", what);
        std::abort();
    }
}

struct PortFailure {}; // what a failing port operation raises, as the component would

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
        upload::UploadLogic logic(*this, *this, upload::firmwareImage().first(totalRecords),
                                  totalRecords);
        logic_ = &logic;
        if (left_ > 0) {
            // How the session begins: the line's rate known or not, and answers the board still
            // owes an earlier session (due within the bound from now).
            const std::uint8_t setup = next();
            rate_ = setup & 1 ? 9600 : 0;
            for (int i = 0; i < (setup >> 1) % 4; ++i)
                board_.push_back(Answer{'N', clock_ + std::chrono::milliseconds(400 * (i + 1))});
        }
        while (left_ > 0)
            step();
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
            buffer[n] = input_.front();
            input_.pop_front();
        }
        return n;
    }
    std::int32_t bytesWaiting() override {
        mayFail();
        return static_cast<std::int32_t>(input_.size());
    }
    std::uint32_t lineRate() const override { return rate_; }

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
    // One answer the board will give, in order.
    struct Answer {
        char letter; // 0: none (the item is dropped)
        Clock::time_point due;
        std::int32_t record = -1; // the item it answers: 0 the command, -1 an earlier session's
    };

    std::uint8_t next() {
        --left_;
        return *in_++;
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
    }

    // The board takes an item: the input decides its answer and how long it takes, within the
    // bound: less than two seconds after the later of the item's arrival and the answer before.
    void received(std::int32_t item, std::int32_t bytes) {
        static constexpr char letters[] = {'N', 'N', 'N', 'N', 'N', 'R', 'R', 'L',
                                           'I', 'J', 'K', 0,   0,   'N', 'R', 'N'};
        const std::uint8_t how = left_ > 0 ? next() : 0;
        const std::uint8_t wait = left_ > 0 ? next() : 0;
        const char letter = letters[how % 16];
        const auto byteTime = std::chrono::microseconds(rate_ ? 10'000'000 / rate_ : 0);
        Clock::time_point from = clock_ + byteTime * bytes;
        if (!board_.empty()) from = std::max(from, board_.back().due);
        // An item the board drops takes none of its time: the silence counts from the answer
        // before.
        const auto due =
            letter ? from + byteTime * 3 + std::chrono::milliseconds(wait * 1990 / 255) : from;
        board_.push_back(Answer{letter, due, item});
        if (item == 0) accepted_.clear(); // the command starts the board's run afresh
        if (letter == 'N' && item > 0) accepted_.insert(item);
        trace("  board takes %s %d: %c in %lld ms\n", item ? "record" : "command", item,
              letter ? letter : '-',
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(due - clock_).count()));
    }

    void completed() {
        check(++completions_ == 1, "completion shown twice in one run");
        check(logic_->recordIndex() == totalRecords, "completion before the last record");
        for (std::int32_t r = 1; r <= totalRecords; ++r)
            check(accepted_.count(r) == 1, "completion with a record the board has not accepted");
    }

    void checkState() const {
        const upload::UploadLogic& l = *logic_;
        check(l.recordIndex() >= 0 && l.recordIndex() <= totalRecords, "recordIndex out of range");
        check(l.attempts() >= 0 && l.attempts() <= 5, "attempts out of range");
        check(l.errorCount() >= 0 && l.errorCount() <= 4, "errorCount out of range");
        check(l.replyBuffer().size() <= 4, "reply buffer grows");
    }

    // Bytes arrive and the port tells of them.
    void arrive(const std::string& bytes) {
        if (!connected_) return; // a closed port receives nothing
        input_.insert(input_.end(), bytes.begin(), bytes.end());
        logic_->ComPort1RxChar(static_cast<std::int32_t>(input_.size()));
    }

    // Time passes until `until`: the board's answers and the timer's ticks, in their order.
    void pass(Clock::time_point until) {
        for (;;) {
            const bool answer = !board_.empty() && board_.front().due <= until;
            const bool tick = timerOn_ && timerDue_ <= until;
            if (answer && (!tick || board_.front().due <= timerDue_)) {
                const Answer a = board_.front();
                board_.pop_front();
                clock_ = std::max(clock_, a.due);
                if (a.letter) {
                    trace("  [%c] arrives%s\n", a.letter, connected_ ? "" : " at a closed port");
                    arrive(std::string{'[', a.letter, ']'});
                }
            } else if (tick) {
                clock_ = std::max(clock_, timerDue_);
                timerDue_ = clock_ + std::chrono::seconds(1);
                trace("  tick at %lld ms\n", static_cast<long long>(sinceStart()));
                logic_->Timer1Timer();
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
        static constexpr const char* names[] = {"press",        "time", "noise", "failure",
                                                "cable pulled", "time", "time",  "time"};
        trace("event: %s\n", names[op % 8]);
        try {
            switch (op % 8) {
            case 0: // the start button, while it can be pressed
                if (!startEnabled_) break;
                if (connected_) completions_ = 0; // a press on an open port starts a run
                logic_->BitBtn2Click();
                break;
            case 2: { // noise that can spoil an answer but never make one
                std::string noise;
                for (std::size_t n = left_ > 0 ? next() % 4 + 1 : 0; n > 0 && left_ > 0; --n) {
                    const char c = static_cast<char>(next());
                    noise.push_back(c == '[' || c == ']' || (c >= 'A' && c <= 'Z') ? '?' : c);
                }
                arrive(noise);
                break;
            }
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
    std::deque<std::uint8_t> input_;

    std::deque<Answer> board_;
    std::set<std::int32_t> accepted_;
    int completions_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig(data, size).run();
    return 0;
}
