#include "tools/monitor-sim/FlashMemory.h"

#include "upload/MonitorArea.h"

#include <algorithm>
#include <cassert>

namespace monitorsim {

FlashMemory::FlashMemory(std::uint32_t begin, std::uint32_t end, std::uint32_t protectedBegin,
                         std::uint32_t protectedEnd)
    : begin_(begin), end_(end), protectedBegin_(protectedBegin), protectedEnd_(protectedEnd),
      bytes_(end - begin, 0xFF), written_(end - begin, false),
      erasedThisRun_((end - begin + rowSize - 1) / rowSize, false) {
    assert(begin < end && begin % rowSize == 0);
}

FlashMemory FlashMemory::board() {
    return FlashMemory(upload::programMemoryBegin, upload::programMemoryEnd,
                       upload::monitorAreaBegin, upload::monitorAreaEnd);
}

void FlashMemory::beginRun() {
    std::fill(erasedThisRun_.begin(), erasedThisRun_.end(), false);
}

FlashMemory::WriteResult FlashMemory::program(std::uint64_t address,
                                              std::span<const std::uint8_t> data) {
    if (data.empty()) return WriteResult::written;
    const std::uint64_t last = address + data.size() - 1;
    if (address < begin_ || last >= end_) return WriteResult::outsideMemory;
    if (address < protectedEnd_ && last >= protectedBegin_) return WriteResult::monitorArea;

    const auto first = static_cast<std::uint32_t>(address);
    // Check the whole record before touching anything, so that a refused write changes nothing.
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint32_t a = first + static_cast<std::uint32_t>(i);
        if (erasedThisRun_[rowOf(a)] && (at(a) & data[i]) != data[i])
            return WriteResult::needsErase;
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint32_t a = first + static_cast<std::uint32_t>(i);
        const std::size_t row = rowOf(a);
        if (!erasedThisRun_[row]) eraseRow(row);
        bytes_[a - begin_] &= data[i];
        written_[a - begin_] = true;
    }
    bytesProgrammed_ += data.size();
    return WriteResult::written;
}

void FlashMemory::eraseAll() {
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    std::fill(written_.begin(), written_.end(), false);
}

void FlashMemory::lose(std::uint64_t address, std::size_t length) {
    for (std::uint64_t a = address; a < address + length; ++a) {
        if (a < begin_ || a >= end_) continue;
        bytes_[a - begin_] = 0xFF;
        written_[a - begin_] = false;
    }
}

void FlashMemory::eraseRow(std::size_t row) {
    const std::size_t from = row * rowSize;
    const std::size_t to = std::min(from + rowSize, bytes_.size());
    std::fill(bytes_.begin() + from, bytes_.begin() + to, 0xFF);
    std::fill(written_.begin() + from, written_.begin() + to, false);
    erasedThisRun_[row] = true;
    ++rowErases_;
}

} // namespace monitorsim
