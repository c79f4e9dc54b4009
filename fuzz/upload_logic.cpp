// The upload logic fed arbitrary events in arbitrary order: received bytes in any batches (with
// any announced count), ticks of the retry timer while it runs, presses of the start button while
// it is enabled, port operations that fail, and events that arrive while a message box is open.
//
// Checked after every event:
// - only the programming-mode command or whole record lines go out (a line cut short only by a
//   write that failed, and ':' alone for the record 0 that "[R]" to the command asks for);
// - the counters, the labels and the progress bar stay in range;
// - "TRANSMISSÃO CONCLUIDA !!" is shown at most once per run, and only when the board has
//   answered "[N]" to every record of the run. The board is taken to answer the copies it was
//   sent in order, one reply each: a reply answers the oldest copy sent before it arrived and not
//   answered yet (a reply with no such copy is noise).
#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/UploadLogic.h"
#include "upload/UploadTexts.h"
#include "upload/WindowSurface.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
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
            sent(0);
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
                sent(static_cast<std::int32_t>(r + 1));
                break;
            }
        }
        check(prefix, "bytes that are not a record of the image sent");
        return count;
    }
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override {
        mayFail();
        std::int32_t n = 0;
        for (; n < count && !received_.empty(); ++n) {
            buffer[n] = received_.front();
            received_.pop_front();
        }
        return n;
    }

    // --- the window ---
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
        timerOn_ = enabled;
    }
    void showMessage(const std::string& text) override {
        check(!text.empty(), "an empty message");
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
    struct Copy {
        std::int32_t item; // 0: the command, n: record n
        int run;
        char answer = 0;
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

    // A closed port keeps no input, and replies to what was sent before can no longer be told
    // from new ones: the copies in flight are forgotten.
    void dropLine() {
        connected_ = false;
        received_.clear();
        unanswered_.clear();
        tail_ = {};
    }

    void sent(std::int32_t item) {
        trace("  sent %s %d (copy %zu, run %d)\n", item ? "record" : "command", item,
              copies_.size(), run_);
        copies_.push_back(Copy{item, run_});
        unanswered_.push_back(copies_.size() - 1);
    }

    // Bytes arrive from the board: each "[X]" answers the oldest unanswered copy.
    void arrive(std::uint8_t byte) {
        if (!connected_) return; // a closed port receives nothing
        received_.push_back(byte);
        if (byte == ']' && tail_[0] == '[' && tail_[1] >= 'A' && tail_[1] <= 'Z' &&
            !unanswered_.empty()) {
            copies_[unanswered_.front()].answer = static_cast<char>(tail_[1]);
            trace("  [%c] arrives, answering copy %zu\n", tail_[1], unanswered_.front());
            unanswered_.pop_front();
        }
        tail_ = {tail_[1], byte};
    }

    void completed() {
        check(++completions_ == 1, "completion shown twice in one run");
        check(logic_->recordIndex() == totalRecords, "completion before the last record");
        for (std::int32_t r = 1; r <= totalRecords; ++r) {
            bool accepted = false;
            for (const Copy& c : copies_)
                accepted = accepted || (c.run == run_ && c.item == r && c.answer == 'N');
            check(accepted, "completion with a record the board has not accepted");
        }
    }

    void checkState() const {
        const upload::UploadLogic& l = *logic_;
        check(l.recordIndex() >= 0 && l.recordIndex() <= totalRecords, "recordIndex out of range");
        check(l.attempts() >= 0 && l.attempts() <= 5, "attempts out of range");
        check(l.errorCount() >= 0 && l.errorCount() <= 4, "errorCount out of range");
        check(l.replyBuffer().size() <= 4, "reply buffer grows");
    }

    // One event, chosen by the next input byte.
    void step() {
        const std::uint8_t op = next();
        static constexpr const char* names[] = {"press",   "tick",         "bytes", "reply",
                                                "failure", "cable pulled", "[N]",   "[N]"};
        trace("event: %s\n", names[op % 8]);
        try {
            switch (op % 8) {
            case 0: // the start button, while it can be pressed
                if (!startEnabled_) break;
                if (connected_) {
                    ++run_; // a press on an open port starts a run from the command
                    completions_ = 0;
                }
                logic_->BitBtn2Click();
                break;
            case 1: // a second without an answer
                if (timerOn_) logic_->Timer1Timer();
                break;
            case 2: { // bytes from the board, announced with any count
                const std::size_t n = left_ > 0 ? next() % 16 : 0;
                for (std::size_t i = 0; i < n && left_ > 0; ++i)
                    arrive(next());
                deliver(left_ > 0 ? 1 + next() % 24 : static_cast<std::int32_t>(received_.size()));
                break;
            }
            case 3: { // a whole reply
                static constexpr char letters[] = "NNNRLIJK";
                const char letter = letters[left_ > 0 ? next() % 8 : 0];
                for (char c : std::string{'[', letter, ']'})
                    arrive(static_cast<std::uint8_t>(c));
                deliver(static_cast<std::int32_t>(received_.size()));
                break;
            }
            case 4: // the next port operation fails
                failNext_ = true;
                break;
            case 5: // the cable is pulled: the port fails and reports itself closed
                failNext_ = true;
                dropLine();
                break;
            default: // "[N]", the commonest reply
                for (char c : std::string_view("[N]"))
                    arrive(static_cast<std::uint8_t>(c));
                deliver(static_cast<std::int32_t>(received_.size()));
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

    // The received-characters event comes only from an open port, with at least one byte.
    void deliver(std::int32_t count) {
        if (connected_ && count > 0) logic_->ComPort1RxChar(count);
    }

    const std::uint8_t* in_;
    std::size_t left_;
    upload::UploadLogic* logic_ = nullptr;
    std::vector<std::vector<std::uint8_t>> records_;

    bool connected_ = false;
    bool failNext_ = false;
    bool startEnabled_ = true; // BitBtn2
    bool timerOn_ = false;
    bool inMessage_ = false;
    bool inRecord_ = false;
    std::vector<std::uint8_t> partial_;
    std::deque<std::uint8_t> received_;
    std::array<std::uint8_t, 2> tail_{};

    int run_ = 0;
    int completions_ = 0;
    std::vector<Copy> copies_;
    std::deque<std::size_t> unanswered_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig(data, size).run();
    return 0;
}
