// Every board within the bound, for a three-record image and a few items: each of the first
// items the board receives is answered "[N]", "[R]", "[L]" or not at all, after a delay from a
// set that spans the bound (at once, past the retry second, just under the quiet time), every
// combination of those; the items after them are answered "[N]" at once. The board's memory
// follows its answers ("[N]" writes the record, "[R]" loses it, "[L]" and the command erase
// everything). One rule: the completion only if the memory holds every record.
#include "upload/FirmwareImage.h"
#include "upload/PortOperations.h"
#include "upload/UploadLogic.h"
#include "upload/UploadTexts.h"
#include "upload/WindowSurface.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <deque>
#include <optional>
#include <set>

using namespace std::chrono_literals;

namespace {

constexpr std::int32_t records = 3;
constexpr int chosenItems = 5; // items whose answer is chosen; 12^5 boards
constexpr std::array<char, 4> letters = {'N', 'R', 'L', 0};
enum Delay { atOnce, pastRetry, underQuiet };

class Board : public upload::PortOperations, public upload::WindowSurface {
public:
    explicit Board(std::array<int, chosenItems> choices) : choices_(choices) {}

    // Runs the upload; true unless it completed with a record missing from the memory.
    bool run() {
        upload::UploadLogic logic(*this, *this, upload::firmwareImage().first(records), records);
        logic_ = &logic;
        logic.BitBtn2Click();
        logic.BitBtn2Click();
        while (clock_ < Clock::time_point{} + 600s) {
            const auto answer = nextAnswer();
            if (!answer && !timerOn_) break;
            if (answer && (!timerOn_ || *answer <= timerDue_)) {
                clock_ = std::max(clock_, *answer);
                const char letter = items_.front().letter;
                items_.pop_front();
                lastAnswer_ = clock_;
                input_ = {'[', letter, ']'};
                logic.ComPort1RxChar(3);
            } else {
                clock_ = timerDue_;
                timerDue_ += 1s;
                logic.Timer1Timer();
            }
        }
        return !completed_ || memory_ == std::set<std::int32_t>{1, 2, 3};
    }
    bool completed() const { return completed_; }

    bool Connected() const override { return open_; }
    void setPort(const std::string&) override {}
    void openPort() override { open_ = true; }
    void closePort() override { open_ = false; }
    void setDtrLine(bool) override {}
    void setRtsLine(bool) override {}
    std::int32_t writeText(const std::string& text) override {
        if (text == upload::programmingModeCommand) received(0);
        inRecord_ = text == ":";
        return static_cast<std::int32_t>(text.size());
    }
    std::int32_t writeBytes(const std::uint8_t*, std::int32_t count) override { return count; }
    std::int32_t readBytes(std::uint8_t* buffer, std::int32_t count) override {
        std::int32_t n = 0;
        for (; n < count && !input_.empty(); ++n) {
            buffer[n] = static_cast<std::uint8_t>(input_.front());
            input_.pop_front();
        }
        return n;
    }
    std::int32_t bytesWaiting() override { return static_cast<std::int32_t>(input_.size()); }

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
        // envia ends by starting the timer: the record it wrote has reached the board.
        if (enabled && inRecord_) {
            inRecord_ = false;
            if (logic_->recordIndex() > 0) received(logic_->recordIndex());
        }
        if (enabled && !timerOn_) timerDue_ = clock_ + 1s;
        timerOn_ = enabled;
    }
    void showMessage(const std::string& text) override {
        if (text == upload::messageCompleted) completed_ = true;
    }

private:
    struct Item {
        char letter;
        Clock::time_point arrived;
        Delay delay;
    };

    void received(std::int32_t item) {
        const int choice = received_ < chosenItems ? choices_[received_] : 0;
        ++received_;
        const char letter = letters[choice % letters.size()];
        if (item == 0 || letter == 'L') memory_.clear();
        if (item > 0 && letter == 'N') memory_.insert(item);
        if (item > 0 && letter == 'R') memory_.erase(item);
        if (letter) items_.push_back(Item{letter, clock_, static_cast<Delay>(choice / 4)});
    }

    std::optional<Clock::time_point> nextAnswer() const {
        if (items_.empty()) return std::nullopt;
        const Item& head = items_.front();
        const Clock::time_point from = std::max(head.arrived, lastAnswer_);
        switch (head.delay) {
        case atOnce:
            return from + 50ms;
        case pastRetry:
            return from + 1050ms;
        case underQuiet:
            break;
        }
        return from + logic_->quietTime() - 1ms;
    }

    std::array<int, chosenItems> choices_;
    upload::UploadLogic* logic_ = nullptr;
    Clock::time_point clock_{};
    bool open_ = false, timerOn_ = false, inRecord_ = false, completed_ = false;
    Clock::time_point timerDue_{}, lastAnswer_{};
    std::deque<char> input_;
    std::deque<Item> items_;
    std::set<std::int32_t> memory_;
    int received_ = 0;
};

} // namespace

TEST(BoundedBoards, NoCompletionUnlessTheMemoryHoldsEveryRecord) {
    constexpr int choices = static_cast<int>(letters.size()) * 3;
    std::array<int, chosenItems> pick{};
    long boards = 0, completions = 0;
    for (;;) {
        Board board(pick);
        const bool sound = board.run();
        ++boards;
        completions += board.completed();
        if (!sound) {
            std::string seen;
            for (int c : pick)
                seen += std::string(1, letters[c % 4] ? letters[c % 4] : '-') +
                        std::to_string(c / 4) + " ";
            ADD_FAILURE() << "completion with a record missing; answers and delays: " << seen;
        }
        int i = 0;
        while (i < chosenItems && ++pick[i] == choices)
            pick[i++] = 0;
        if (i == chosenItems) break;
    }
    std::printf("bounded boards tried: %ld, of which %ld completed\n", boards, completions);
    EXPECT_GT(completions, 0);
}
