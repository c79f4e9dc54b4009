#include "tests/support/scripted/RecordingWindow.h"

#include <cstdio>

namespace upload::scripted {

namespace {

const char* onOff(bool on) {
    return on ? "on" : "off";
}

} // namespace

void RecordingWindow::setBitBtn2Caption(const std::string& caption) {
    log_.add("BitBtn2 caption " + caption);
    bitBtn2Caption = caption;
}

void RecordingWindow::setBitBtn2Enabled(bool enabled) {
    log_.add(std::string("BitBtn2 ") + onOff(enabled));
    bitBtn2Enabled = enabled;
}

void RecordingWindow::setBitBtn6Enabled(bool enabled) {
    log_.add(std::string("BitBtn6 ") + onOff(enabled));
    bitBtn6Enabled = enabled;
}

void RecordingWindow::setLabel2(const std::string& text) {
    log_.add("Label2 " + text);
    label2 = text;
}

void RecordingWindow::setLabel4(const std::string& text) {
    log_.add("Label4 " + text);
    label4 = text;
}

void RecordingWindow::setLabel7(const std::string& text) {
    log_.add("Label7 " + text);
    label7 = text;
}

void RecordingWindow::setLabel8(const std::string& text) {
    log_.add("Label8 " + text);
    label8 = text;
}

void RecordingWindow::setProgressBar1(int position) {
    log_.add("ProgressBar1 " + std::to_string(position));
    progress = position;
}

void RecordingWindow::setLampColor(std::uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(rgb));
    log_.add(std::string("Shape1 ") + text);
    lamp = rgb;
}

void RecordingWindow::setTimer1Enabled(bool enabled) {
    log_.add(std::string("Timer1 ") + onOff(enabled));
    if (enabled && !timer1Enabled) {
        ++timer1Starts;
        timer1Due = time + std::chrono::seconds(1);
    }
    timer1Enabled = enabled;
}

void RecordingWindow::showMessage(const std::string& text) {
    log_.add("message " + text);
    messages.push_back(text);
    if (onMessage) onMessage(text);
}

} // namespace upload::scripted
