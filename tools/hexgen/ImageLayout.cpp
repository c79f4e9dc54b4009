#include "tools/hexgen/ImageLayout.h"

#include "upload/IntelHexRecord.h"
#include "upload/MonitorArea.h"

#include <numeric>
#include <span>
#include <stdexcept>
#include <string_view>

namespace hexgen {

namespace {

// A small generator of our own: the standard distributions are not the same on every library,
// and the image must come out byte for byte the same everywhere.
class XorShift32 {
public:
    explicit XorShift32(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

private:
    std::uint32_t state_;
};

// PIC18 program memory holds 16-bit instruction words, low byte first.
void putWord(std::vector<std::uint8_t>& out, std::uint16_t word) {
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
}

// GOTO and CALL carry the word address (byte address / 2) in 20 bits over two words.
void putFar(std::vector<std::uint8_t>& out, std::uint16_t opcode, std::uint32_t byteAddress) {
    const std::uint32_t k = byteAddress / 2;
    putWord(out, static_cast<std::uint16_t>(opcode | (k & 0xFF)));
    putWord(out, static_cast<std::uint16_t>(0xF000 | ((k >> 8) & 0x0FFF)));
}

constexpr std::uint16_t opNop = 0x0000;
constexpr std::uint16_t opReturn = 0x0012;
constexpr std::uint16_t opGoto = 0xEF00;
constexpr std::uint16_t opCall = 0xEC00;

// Where the code segments lie; calls and jumps of the generated code land inside them.
struct CodeRange {
    std::uint32_t begin, end;
};

// Appends instruction words until `out` holds `size` bytes: a plausible mix of literal, file
// register, bit and branch instructions, with calls into the code ranges.
void fillCode(std::vector<std::uint8_t>& out, std::size_t size, XorShift32& rng,
              std::span<const CodeRange> code) {
    auto file = [&] { return static_cast<std::uint16_t>(rng.below(0x60)); }; // access bank RAM
    auto sfr = [&] { return static_cast<std::uint16_t>(0x80 + rng.below(0x80)); };
    auto target = [&] {
        const CodeRange& r = code[rng.below(static_cast<std::uint32_t>(code.size()))];
        return (r.begin + rng.below(r.end - r.begin)) & ~1u;
    };
    while (out.size() < size) {
        const bool roomForTwo = size - out.size() >= 4;
        const std::uint32_t pick = rng.below(100);
        const auto k = static_cast<std::uint16_t>(rng.below(0x100));
        const auto bit = static_cast<std::uint16_t>(rng.below(8) << 9);
        if (pick < 14)
            putWord(out, 0x0E00 | k); // MOVLW k
        else if (pick < 26)
            putWord(out, 0x6E00 | file()); // MOVWF f
        else if (pick < 36)
            putWord(out, 0x5000 | file()); // MOVF f,W
        else if (pick < 44)
            putWord(out, 0x8000 | bit | sfr()); // BSF f,b
        else if (pick < 52)
            putWord(out, 0x9000 | bit | sfr()); // BCF f,b
        else if (pick < 57)
            putWord(out, 0xB000 | bit | sfr()); // BTFSC f,b
        else if (pick < 62)
            putWord(out, 0xA000 | bit | sfr()); // BTFSS f,b
        else if (pick < 66)
            putWord(out, 0x2A00 | file()); // INCF f,F
        else if (pick < 69)
            putWord(out, 0x0600 | file()); // DECF f,F
        else if (pick < 73)
            putWord(out, 0x6A00 | file()); // CLRF f
        else if (pick < 76)
            putWord(out, 0x2400 | file()); // ADDWF f,W
        else if (pick < 78)
            putWord(out, 0x0B00 | k); // ANDLW k
        else if (pick < 80)
            putWord(out, 0x0900 | k); // IORLW k
        else if (pick < 82)
            putWord(out, 0x0A00 | k); // XORLW k
        else if (pick < 85)
            putWord(out,
                    0xE000 | static_cast<std::uint16_t>(rng.below(4) << 8) | k); // BZ/BNZ/BC/BNC
        else if (pick < 87)
            putWord(out, 0xD000 | static_cast<std::uint16_t>(rng.below(0x800))); // BRA
        else if (pick < 89)
            putWord(out, opReturn);
        else if (pick < 90)
            putWord(out, opNop);
        else if (pick < 95 && roomForTwo)
            putFar(out, opCall, target());
        else if (pick < 97 && roomForTwo)
            putFar(out, opGoto, target());
        else if (roomForTwo) { // MOVFF between two file registers
            putWord(out, static_cast<std::uint16_t>(0xC000 | file()));
            putWord(out, static_cast<std::uint16_t>(0xF000 | sfr() | 0xF00));
        } else
            putWord(out, opReturn);
    }
}

// A RETLW table (ADDWF PCL-style lookup): one instruction per entry.
void putRetlw(std::vector<std::uint8_t>& out, std::uint8_t value) {
    putWord(out, static_cast<std::uint16_t>(0x0C00 | value));
}

std::uint8_t crc8Entry(std::uint8_t index) {
    std::uint8_t crc = index;
    for (int i = 0; i < 8; ++i)
        crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    return crc;
}

// The texts the controller shows on its display, zero-terminated, as RETLW tables.
void fillTexts(std::vector<std::uint8_t>& out, std::size_t size) {
    static constexpr std::string_view texts[] = {
        "TORVIN 05 A.3", "BICO",          "LITROS",      "PRECO/L",     "TOTAL R$",
        "ENCERRANTE",    "PRESET",        "BOMBA LIVRE", "ABASTECENDO", "ERRO COMUNICACAO",
        "ERRO PULSER",   "FALTA ENERGIA", "SENHA",       "TURNO",       "FRENTISTA",
        "AUTORIZADO",    "BLOQUEADO",     "CONCENTRADOR"};
    std::size_t i = 0;
    while (out.size() < size) {
        for (char c : texts[i % std::size(texts)]) {
            if (out.size() >= size) break;
            putRetlw(out, static_cast<std::uint8_t>(c));
        }
        if (out.size() < size) putRetlw(out, 0);
        ++i;
    }
}

std::vector<std::size_t> sizes(std::size_t lead, std::size_t fullRecords, std::size_t tail) {
    std::vector<std::size_t> s;
    if (lead) s.push_back(lead);
    s.insert(s.end(), fullRecords, 16);
    if (tail) s.push_back(tail);
    return s;
}

std::size_t total(const std::vector<std::size_t>& s) {
    return std::accumulate(s.begin(), s.end(), std::size_t{0});
}

} // namespace

std::vector<Segment> firmwareSegments() {
    using namespace upload;
    // Code segments: the main program just above the vectors, libraries and drivers higher up.
    constexpr std::uint32_t mainStart = 0x0218, libStart = 0x4700, driverStart = 0x6F00,
                            commsStart = 0x7C00;
    constexpr std::uint32_t tableStart = 0x6200, textStart = 0x7800, versionAddress = 0x7FFE;
    const CodeRange code[] = {
        {0x0220, 0x4600}, {libStart, 0x6100}, {driverStart, 0x7700}, {commsStart, 0x7E80}};
    const std::uint32_t mainEntry = 0x0220, isrHigh = libStart, isrLow = libStart + 0x40;

    XorShift32 rng(0x18F452u);
    std::vector<Segment> segs;

    // The application's reset vector: jump to the main program.
    Segment reset{applicationResetVector, {}, {6}};
    putFar(reset.bytes, opGoto, mainEntry);
    putWord(reset.bytes, opNop);
    segs.push_back(reset);

    // High-priority interrupt: save W and STATUS, go to the handler.
    Segment high{applicationHighInterruptVector, {}, {10}};
    putWord(high.bytes, 0x6E00 | 0x7F);   // MOVWF 0x7F
    putWord(high.bytes, 0xC000 | 0x0FD8); // MOVFF STATUS, 0x7E
    putWord(high.bytes, 0xF000 | 0x007E);
    putFar(high.bytes, opGoto, isrHigh);
    segs.push_back(high);

    // Low-priority interrupt vector, then the main program.
    Segment mainCode{mainStart, {}, sizes(8, 1100, 14)};
    putFar(mainCode.bytes, opGoto, isrLow);
    putWord(mainCode.bytes, opNop);
    putWord(mainCode.bytes, opNop);
    fillCode(mainCode.bytes, total(mainCode.recordSizes), rng, code);
    segs.push_back(mainCode);

    Segment lib{libStart, {}, sizes(0, 420, 12)};
    fillCode(lib.bytes, total(lib.recordSizes), rng, code);
    segs.push_back(lib);

    // Look-up tables: the CRC-8 table of the dispenser protocol, then the code that uses it.
    Segment tables{tableStart, {}, sizes(0, 200, 10)};
    for (unsigned i = 0; i < 256; ++i)
        putRetlw(tables.bytes, crc8Entry(static_cast<std::uint8_t>(i)));
    fillCode(tables.bytes, total(tables.recordSizes), rng, code);
    segs.push_back(tables);

    Segment drivers{driverStart, {}, sizes(0, 143, 8)};
    fillCode(drivers.bytes, total(drivers.recordSizes), rng, code);
    segs.push_back(drivers);

    Segment texts{textStart, {}, sizes(0, 60, 6)};
    fillTexts(texts.bytes, total(texts.recordSizes));
    segs.push_back(texts);

    Segment comms{commsStart, {}, sizes(0, 40, 6)};
    fillCode(comms.bytes, total(comms.recordSizes), rng, code);
    segs.push_back(comms);

    // The firmware's version word in the last word of program memory: A.3.
    segs.push_back(Segment{versionAddress, {0x03, 0x0A}, {2}});
    return segs;
}

std::vector<std::string> firmwareRecords() {
    const auto segs = firmwareSegments();
    std::vector<std::string> lines{upload::intelhex::upperAddressRecord(0x0000)};
    std::uint32_t previousEnd = 0;
    for (const auto& s : segs) {
        const std::uint32_t end = s.start + static_cast<std::uint32_t>(s.bytes.size());
        if (upload::inMonitorArea(s.start) || end > upload::programMemoryEnd)
            throw std::logic_error("a segment lies outside the application's program memory");
        if (s.start <= previousEnd && previousEnd != 0)
            throw std::logic_error("segments must rise with a gap between them");
        if (total(s.recordSizes) != s.bytes.size())
            throw std::logic_error("a segment's records do not cover its bytes");
        std::size_t at = 0;
        for (auto n : s.recordSizes) {
            lines.push_back(upload::intelhex::dataRecord(static_cast<std::uint16_t>(s.start + at),
                                                         std::span(s.bytes).subspan(at, n)));
            at += n;
        }
        previousEnd = end;
    }
    return lines;
}

} // namespace hexgen
