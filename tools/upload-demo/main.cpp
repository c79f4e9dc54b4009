// upload-demo: runs a whole upload of the embedded firmware image against the scripted board (a
// Monitor simulated inside this program, answering at once) and prints what went over the line.
// Exit status 0 when the run completed with every record received intact, 1 otherwise.

#include "framework/Exception.h"
#include "tests/support/scripted/UploadRig.h"
#include "upload/UploadTexts.h"

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>

using namespace upload;
using namespace upload::scripted;

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out + "\"";
}

void printRecordOnWire(const ScriptedBoard& board, std::size_t wireStart, std::size_t length,
                       int record) {
    std::printf("  record %4d: ", record);
    for (std::size_t i = wireStart; i < wireStart + length; ++i)
        std::printf("%02X ", board.wire()[i]);
    std::printf("(%zu bytes)\n", length);
}

// How the run ended, as the logic tells it.
struct RunEnd : RunListener {
    std::optional<RunEnded> ended;
    void told(const RunEvent& event) override {
        if (const auto* e = std::get_if<RunEnded>(&event); e && !ended) ended = *e;
    }
};

} // namespace

int main(int argc, char**) {
    if (argc > 1) {
        std::fprintf(stderr, "usage: upload-demo   (no options: uploads the embedded image to a "
                             "scripted board and prints the exchange)\n");
        return 2;
    }

    UploadRig rig;
    RunEnd end;
    rig.logic.setListener(&end);
    std::map<std::string, int> replies;
    rig.board.responder = [&](const Item& item) {
        Reply reply = ScriptedBoard::monitorAnswer(item);
        for (const auto& chunk : reply)
            ++replies[chunk];
        return reply;
    };

    std::printf(
        "Upload of the embedded firmware image (%zu lines, %d records) to a scripted board\n",
        firmwareImage().size(), rig.logic.totalRecords());
    int ticks = 0;
    try {
        rig.press();
        std::printf("Port %s opened: DTR %s, RTS %s, lamp %s, button \"%s\"\n",
                    rig.board.portName().c_str(), rig.board.dtr() ? "on" : "off",
                    rig.board.rts() ? "on" : "off", rig.window.lamp == lampLime ? "lime" : "white",
                    rig.window.bitBtn2Caption.c_str());
        rig.pause(rig.logic.quietTime()); // the board is heard quiet before the command
        rig.press();
        ticks = rig.run();
    } catch (const fw::Exception& e) {
        std::printf("Error: %s\n", e.what());
        return 1;
    }

    // What the PC sent, item by item.
    int commands = 0, records = 0, intact = 0;
    std::set<int> distinct;
    bool inOrder = true;
    int expected = 1;
    for (const auto& item : rig.board.items()) {
        if (item.kind == Item::Kind::Command) ++commands;
        if (item.kind != Item::Kind::Record) continue;
        ++records;
        intact += item.intact;
        if (item.record != 0) distinct.insert(item.record);
        inOrder = inOrder && item.record == expected++;
    }

    std::printf("\nPC to board\n");
    std::printf("  command %s sent %d time(s)\n",
                quoted(std::string(programmingModeCommand)).c_str(), commands);
    std::printf("  records sent: %d (%zu distinct of %d, %s, %d with a right checksum)\n", records,
                distinct.size(), rig.logic.totalRecords(), inOrder ? "in order" : "NOT in order",
                intact);
    std::size_t at = programmingModeCommand.size();
    int shown = 0;
    for (const auto& item : rig.board.items()) {
        if (item.kind != Item::Kind::Record) continue;
        const std::size_t length = 1 + (item.text.size() - 1) / 2;
        if (shown < 3 || item.record == rig.logic.totalRecords())
            printRecordOnWire(rig.board, at, length, item.record);
        else if (shown == 3)
            std::printf("  ...\n");
        ++shown;
        at += length;
    }
    std::printf("  bytes on the wire: %zu\n", rig.board.wire().size());

    std::printf("\nBoard to PC\n");
    for (const auto& [reply, count] : replies)
        std::printf("  %s x %d\n", quoted(reply).c_str(), count);
    std::printf("  bytes: %zu\n", rig.board.replyBytes());

    // At 9600 baud with 8 data bits, no parity and one stop bit, a byte takes 10 bit times.
    const double seconds =
        static_cast<double>(rig.board.wire().size() + rig.board.replyBytes()) * 10.0 / 9600.0;
    std::printf(
        "\nLine time at 9600 baud, 8N1: %.1f s (replies answered at once, %d retry tick(s))\n",
        seconds, ticks);
    std::printf("Window: record %s, progress %d%%, attempts %s, errors %s, start button %s\n",
                rig.window.label7.c_str(), rig.window.progress, rig.window.label4.c_str(),
                rig.window.label8.c_str(), rig.window.bitBtn2Enabled ? "enabled" : "disabled");

    for (const auto& message : rig.window.messages)
        std::printf("Message: %s\n", message.c_str());
    const bool completed = end.ended && end.ended->outcome == RunOutcome::completed && inOrder &&
                           records == rig.logic.totalRecords() && intact == records;
    std::printf("Outcome: %s\n", completed ? outcomeWords(RunOutcome::completed, 0).c_str()
                                           : "the upload did not complete");
    return completed ? 0 : 1;
}
