// Every board within the bound, for a three-record image and a few items, on a 9600-baud line
// with its exact crossing times: each of the first items the board receives is answered "[N]",
// "[R]", "[L]", "[I]" or not at all, after a delay from a set that spans the bound (at once, just
// after the retry, just before the second tick, just under the quiet time), every combination of
// those; the items after them are answered "[N]" at once. Around that, the handler runs 0, 2 or 20
// ms after the bytes reached the port (the timer may tick in between), the replies other than
// "[N]" come bare or with noise before and after them ("~[L]\r\n"), and the process may be killed
// at any of its first steps (each keeping of the owed state and each item written) or stalled for
// longer than the quiet time just after an answer reached the port. Whatever way a run ends, the
// next run follows in a new process on the same board, which goes on answering what it was sent.
// The board's memory follows its answers ("[N]" writes the record, "[R]" loses it, "[L]" and the
// command erase everything). One rule: the completion only if the memory holds every record.
#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/UploadLogic.h"
#include "upload/UploadTexts.h"
#include "upload/WindowSurface.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Under a sanitizer every board costs fifty times as much or more: there, every 101st board is
// tried.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SANITIZED_TREE 1
#endif
#elif defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZED_TREE 1
#endif
#ifdef SANITIZED_TREE
constexpr long boardStride = 101;
#else
constexpr long boardStride = 1;
#endif

constexpr std::int32_t records = 3;
constexpr std::array<char, 5> letters = {'N', 'R', 'L', 'I', 0};
enum Delay { atOnce, pastRetry, beforeTick, underQuiet, delays };
constexpr int choices = static_cast<int>(letters.size()) * delays;

// What happens to the process besides the board's answers.
struct Disturbance {
    int killAtStep = 0;        // killed right after its n-th step (0: never)
    int stallAtAnswer = 0;     // stalled past the quiet time once the n-th answer reached the port
    std::uint32_t rate = 9600; // 0: a pseudo-terminal, where bytes cross at once
};

struct Killed {};

class Board : public upload::PortOperations, public upload::WindowSurface {
public:
    Board(std::vector<int> choices, Clock::duration handlerDelay, bool noisy, Disturbance trouble)
        : choices_(std::move(choices)), handlerDelay_(handlerDelay), noisy_(noisy),
          trouble_(trouble) {}

    // Two runs, one after the other; true unless one completed with a record missing.
    bool run() {
        startProcess();
        while (clock_ < Clock::time_point{} + 12h) {
            if (!logic_) {
                if (runs_ == 2) break;
                startProcess();
                continue;
            }
            if (!timerOn_ && handlers_.empty()) {
                // The run is over: the next one starts in a new process at once.
                endProcess();
                continue;
            }
            const auto answer = nextAnswer();
            const auto process = nextProcessEvent();
            try {
                if (answer && (!process || *answer <= process->first)) {
                    clock_ = std::max(clock_, *answer);
                    deliverAnswer();
                } else {
                    clock_ = std::max(clock_, process->first);
                    if (process->second)
                        tick();
                    else
                        handle();
                }
            } catch (const Killed&) {
                endProcess();
            }
        }
        return sound_;
    }
    bool completed() const { return completions_ > 0; }

    bool Connected() const override { return open_; }
    void setPort(const std::string&) override {}
    void openPort() override {
        if (open_) return;
        open_ = true;
        logic_->ComPort1AfterOpen();
    }
    void closePort() override { dropLine(); }
    void setDtrLine(bool) override {}
    void setRtsLine(bool) override {}
    std::int32_t writeText(const std::string& text) override {
        if (text == upload::programmingModeCommand) received(0, text.size());
        inRecord_ = text == ":";
        recordBytes_ = inRecord_ ? 1 : 0;
        return static_cast<std::int32_t>(text.size());
    }
    std::int32_t writeBytes(const std::uint8_t*, std::int32_t count) override {
        recordBytes_ += static_cast<std::size_t>(count);
        return count;
    }
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override {
        std::int32_t n = 0;
        for (; n < count && !input_.empty(); ++n) {
            buffer[n] = static_cast<std::uint8_t>(input_.front().first);
            lastRead_ = input_.front().second;
            input_.pop_front();
        }
        return n;
    }
    std::int32_t bytesWaiting() override { return static_cast<std::int32_t>(input_.size()); }
    std::uint32_t lineRate() const override { return trouble_.rate; }
    std::optional<Clock::time_point> lastReadArrival() const override { return lastRead_; }
    void keepOwed(const upload::OwedAnswers& owed) override {
        kept_ = owed;
        keptAt_ = clock_;
        step();
    }
    upload::OwedAnswers owedBefore() override {
        upload::OwedAnswers owed = kept_;
        owed.left = std::min<std::chrono::nanoseconds>(
            std::max<std::chrono::nanoseconds>(kept_.left - (clock_ - keptAt_), {}),
            upload::longestOwedWait);
        return owed.left > 0ns ? owed : upload::OwedAnswers{};
    }

    Clock::time_point now() const override { return clock_; }
    std::string comboBox1Text() const override { return ""; }
    void setBitBtn2Caption(const std::string&) override {}
    void setBitBtn2Enabled(bool) override {}
    void setBitBtn6Enabled(bool) override {}
    void setLabel2(const std::string&) override {}
    void setLabel4(const std::string&) override {}
    void setLabel7(const std::string&) override {}
    void setLabel8(const std::string&) override {}
    void setProgressBar1(int) override {}
    void setLampColor(std::uint32_t) override {}
    void setTimer1Enabled(bool enabled) override {
        // envia ends by starting the timer: the record it wrote has gone out.
        if (enabled && inRecord_) {
            inRecord_ = false;
            if (logic_->recordIndex() > 0) received(logic_->recordIndex(), recordBytes_);
        }
        if (enabled && !timerOn_) timerDue_ = clock_ + 1s;
        timerOn_ = enabled;
    }
    void showMessage(const std::string& text) override {
        if (text != upload::messageCompleted) return;
        ++completions_;
        if (memory_ != std::set<std::int32_t>{1, 2, 3}) sound_ = false;
    }

private:
    struct Item {
        char letter;
        bool noisy;
        Clock::time_point sent, arrived; // its first byte handed to the port; its last at the board
        Delay delay;
        int process;
    };

    // A step of the process: the next kill may come right after it.
    void step() {
        if (++steps_ == trouble_.killAtStep) throw Killed{};
    }

    void startProcess() {
        ++runs_;
        inRecord_ = false;
        timerOn_ = false;
        logic_ = std::make_unique<upload::UploadLogic>(
            *this, *this, upload::firmwareImage().first(records), records);
        quiets_.push_back(logic_->quietTime());
        try {
            logic_->BitBtn2Click();
            logic_->BitBtn2Click();
        } catch (const Killed&) {
            endProcess();
        }
    }

    // The process ends (killed, or its run over): the port closes with it.
    void endProcess() {
        if (!logic_) return;
        quiets_.back() = logic_->quietTime();
        logic_.reset();
        dropLine();
        timerOn_ = false;
        inRecord_ = false;
        clock_ += 100ms; // the next process starts a moment later
    }

    void dropLine() {
        open_ = false;
        input_.clear();
        handlers_.clear();
    }

    void received(std::int32_t item, std::size_t bytes) {
        const Clock::time_point start = std::max(clock_, lineFree_);
        lineFree_ = start + crossing(bytes);
        const int choice = received_ < choices_.size() ? choices_[received_] : 0;
        ++received_;
        const char letter = letters[static_cast<std::size_t>(choice) % letters.size()];
        if (item == 0 || letter == 'L') memory_.clear();
        if (item > 0 && letter == 'N') memory_.insert(item);
        if (item > 0 && letter == 'R') memory_.erase(item);
        if (letter)
            items_.push_back(Item{letter, noisy_ && letter != 'N', clock_, lineFree_,
                                  static_cast<Delay>(choice / static_cast<int>(letters.size())),
                                  runs_});
        step();
    }

    // How long `bytes` take to cross the line: ten bits each, never less.
    std::chrono::nanoseconds crossing(std::size_t bytes) const {
        if (trouble_.rate == 0) return {};
        return std::chrono::nanoseconds(
            (static_cast<long long>(bytes) * 10'000'000'000LL + trouble_.rate - 1) / trouble_.rate);
    }

    Clock::duration quietOf(const Item& item) const {
        if (item.process == runs_ && logic_) return logic_->quietTime();
        return quiets_[static_cast<std::size_t>(item.process - 1)];
    }

    // When the next answer's last byte reaches the port.
    std::optional<Clock::time_point> nextAnswer() const {
        if (items_.empty()) return std::nullopt;
        const Item& head = items_.front();
        const Clock::time_point soonest =
            std::max(head.arrived, lastAnswer_) + crossing(head.noisy ? 6 : 3);
        switch (head.delay) {
        case atOnce:
            return soonest;
        case pastRetry:
            return std::max(soonest, head.sent + 1009ms);
        case beforeTick:
            return std::max(soonest, head.sent + 1990ms);
        default:
            break;
        }
        return std::max(head.arrived, lastAnswer_) + quietOf(head) - 1ms;
    }

    void deliverAnswer() {
        const char letter = items_.front().letter;
        const bool noisy = items_.front().noisy;
        items_.pop_front();
        lastAnswer_ = clock_;
        if (!open_) return; // a closed port receives nothing
        const std::string reply{'[', letter, ']'};
        // Each byte reached the port as its last bit crossed.
        const std::string chunk = noisy ? "~" + reply + "\r\n" : reply;
        for (std::size_t i = 0; i < chunk.size(); ++i)
            input_.emplace_back(chunk[i], clock_ - crossing(chunk.size()) + crossing(i + 1));
        handlers_.push_back(clock_ + handlerDelay_);
        if (++answers_ == trouble_.stallAtAnswer)
            frozenUntil_ = clock_ + logic_->quietTime() + 200ms;
    }

    // The process's next tick or handler call (true for a tick), after any stall.
    std::optional<std::pair<Clock::time_point, bool>> nextProcessEvent() const {
        std::optional<std::pair<Clock::time_point, bool>> next;
        if (timerOn_) next = {std::max(timerDue_, frozenUntil_), true};
        if (!handlers_.empty()) {
            const auto due = std::max(handlers_.front(), frozenUntil_);
            // After a stall the tick comes first.
            if (!next || due < next->first) next = {due, false};
        }
        return next;
    }

    void tick() {
        timerDue_ = clock_ + 1s;
        logic_->Timer1Timer();
    }

    void handle() {
        handlers_.pop_front();
        if (!input_.empty()) logic_->ComPort1RxChar(static_cast<std::int32_t>(input_.size()));
    }

    std::vector<int> choices_;
    Clock::duration handlerDelay_;
    bool noisy_;
    Disturbance trouble_;
    std::unique_ptr<upload::UploadLogic> logic_;
    int runs_ = 0, steps_ = 0, answers_ = 0, completions_ = 0;
    std::vector<Clock::duration> quiets_;
    bool sound_ = true;
    Clock::time_point clock_{}, frozenUntil_{};
    bool open_ = false, timerOn_ = false, inRecord_ = false;
    std::size_t recordBytes_ = 0;
    Clock::time_point timerDue_{}, lastAnswer_{}, lineFree_{};
    std::deque<std::pair<char, Clock::time_point>> input_;
    std::optional<Clock::time_point> lastRead_;
    std::deque<Clock::time_point> handlers_;
    std::deque<Item> items_;
    std::set<std::int32_t> memory_;
    std::size_t received_ = 0;
    upload::OwedAnswers kept_;
    Clock::time_point keptAt_{};
};

std::string describe(const std::vector<int>& pick) {
    std::string seen;
    for (int c : pick) {
        const char letter = letters[static_cast<std::size_t>(c) % letters.size()];
        seen += std::string(1, letter ? letter : '-') +
                std::to_string(c / static_cast<int>(letters.size())) + " ";
    }
    return seen;
}

// The next combination of answers and delays; false once every one has been tried.
bool nextPick(std::vector<int>& pick) {
    for (int& choice : pick) {
        if (++choice < choices) return true;
        choice = 0;
    }
    return false;
}

} // namespace

TEST(BoundedBoards, NoCompletionUnlessTheMemoryHoldsEveryRecord) {
    // Every answer and delay for the first four items undisturbed; for the first three under
    // each kill and stall.
    std::vector<Disturbance> troubles{{}};
    for (const std::uint32_t rate : {9600u, 0u}) {
        for (int k = 1; k <= 10; ++k)
            troubles.push_back({k, 0, rate});
        for (int a = 1; a <= 3; ++a)
            troubles.push_back({0, a, rate});
    }
    long boards = 0, completions = 0, seen = 0;
    for (const Disturbance trouble : troubles) {
        const std::size_t items = trouble.killAtStep || trouble.stallAtAnswer ? 3 : 4;
        for (const auto handlerDelay : {0ms, 2ms, 20ms})
            for (const bool noisy : {false, true}) {
                std::vector<int> pick(items, 0);
                do {
                    if (seen++ % boardStride != 0) continue;
                    Board board(pick, handlerDelay, noisy, trouble);
                    const bool sound = board.run();
                    ++boards;
                    completions += board.completed();
                    if (!sound)
                        ADD_FAILURE() << "completion with a record missing; answers and delays: "
                                      << describe(pick) << "handler delay " << handlerDelay.count()
                                      << " ms" << (noisy ? ", noisy" : "") << ", kill at step "
                                      << trouble.killAtStep << ", stall at answer "
                                      << trouble.stallAtAnswer << ", rate " << trouble.rate;
                } while (nextPick(pick));
            }
    }
    std::printf("bounded boards tried: %ld, of which %ld completed\n", boards, completions);
    EXPECT_GT(completions, 0);
}
