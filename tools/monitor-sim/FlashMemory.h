#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace monitorsim {

// The board's program memory as flash behaves: erased bytes read 0xFF, programming can only clear
// bits, and only erasing a whole 64-byte row sets them again.
//
// What the Monitor does with it, as a PIC 18 boot program must to replace an old firmware: the
// first time a run (everything after one programming-mode command) writes into a row, the row is
// erased, then programmed; later writes of the same run into that row are programmed without
// erasing. A write that would need to set a bit of a byte already programmed in this run cannot
// be done by flash: it is refused whole and nothing changes (the real Monitor's read-back check
// fails the same way). Writes outside program memory, or into the Monitor's own area, are refused.
class FlashMemory {
public:
    static constexpr std::uint32_t rowSize = 64;

    enum class WriteResult { written, outsideMemory, monitorArea, needsErase };

    FlashMemory(std::uint32_t begin, std::uint32_t end, std::uint32_t protectedBegin,
                std::uint32_t protectedEnd);
    // The PIC 18F452: 32 KiB of program memory, the Monitor in the boot block.
    static FlashMemory board();

    // A new run: every row is erased again before its first write.
    void beginRun();

    WriteResult program(std::uint64_t address, std::span<const std::uint8_t> data);
    // What a board that starts over, or whose rewrite failed, is left with: every byte (or the
    // `length` bytes from `address`, those inside program memory) erased, and written no more.
    void eraseAll();
    void lose(std::uint64_t address, std::size_t length);

    std::uint8_t at(std::uint32_t address) const { return bytes_[address - begin_]; }
    // True for bytes programmed since their row was last erased.
    bool isWritten(std::uint32_t address) const { return written_[address - begin_]; }

    std::uint32_t begin() const { return begin_; }
    std::uint32_t end() const { return end_; }
    std::uint32_t protectedBegin() const { return protectedBegin_; }
    std::uint32_t protectedEnd() const { return protectedEnd_; }
    std::size_t rowErases() const { return rowErases_; }
    std::size_t bytesProgrammed() const { return bytesProgrammed_; }

private:
    std::size_t rowOf(std::uint32_t address) const { return (address - begin_) / rowSize; }
    void eraseRow(std::size_t row);

    std::uint32_t begin_;
    std::uint32_t end_;
    std::uint32_t protectedBegin_;
    std::uint32_t protectedEnd_;
    std::vector<std::uint8_t> bytes_;
    std::vector<bool> written_;
    std::vector<bool> erasedThisRun_;
    std::size_t rowErases_ = 0;
    std::size_t bytesProgrammed_ = 0;
};

} // namespace monitorsim
