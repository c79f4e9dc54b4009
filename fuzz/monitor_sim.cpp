// The simulated board's input side: the record stream cut from arbitrary bytes in arbitrary
// chunks, and the Monitor writing what it accepts into the flash model.
//
// Checked: a chunked feed finds the same commands and records at the same bytes as a feed byte by
// byte, each record being the bytes after its ':' as they came; a record the Monitor accepts
// reads back from flash, a refused one changes nothing; what a run wrote stays as written; the
// Monitor's own area is never written.
#include "tools/monitor-sim/FlashMemory.h"
#include "tools/monitor-sim/Monitor.h"
#include "tools/monitor-sim/RecordStream.h"
#include "upload/IntelHexRecord.h"
#include "upload/MonitorArea.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <span>
#include <vector>

using namespace monitorsim;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "monitor_sim: %s\n", what);
        std::abort();
    }
}

struct Shadow {
    std::uint32_t base = 0;                      // from accepted address records
    std::map<std::uint64_t, std::uint8_t> bytes; // what this run wrote, by address

    void verify(const FlashMemory& flash) const {
        for (const auto& [address, value] : bytes)
            check(flash.at(static_cast<std::uint32_t>(address)) == value &&
                      flash.isWritten(static_cast<std::uint32_t>(address)),
                  "a byte written in this run no longer holds its value");
    }
};

void onRecord(Monitor& monitor, FlashMemory& flash, Shadow& shadow,
              std::span<const std::uint8_t> raw) {
    check(!raw.empty() && raw.size() == recordLength(raw[0]), "record length");
    const std::uint8_t count = raw[0];
    const std::uint8_t type = raw[3];
    const std::uint64_t address = std::uint64_t{shadow.base} + (raw[1] << 8 | raw[2]);
    const auto data = raw.subspan(4, count);
    const bool checksumRight =
        upload::intelhex::recordChecksum(raw.first(raw.size() - 1)) == raw.back();

    std::vector<std::uint8_t> before;
    const bool inMemory = address + count <= flash.end();
    for (std::size_t i = 0; inMemory && i < count; ++i)
        before.push_back(flash.at(static_cast<std::uint32_t>(address + i)));
    const std::size_t erases = flash.rowErases();
    const std::size_t programmed = flash.bytesProgrammed();

    const Monitor::Outcome outcome = monitor.onRecord(raw);
    check(outcome.action == Monitor::Action::answer, "no answer without a fault asked for");
    check(outcome.letter == 'N' || outcome.letter == 'R', "an answer other than [N] or [R]");
    if (outcome.letter == 'R' || type != 0) {
        check(flash.rowErases() == erases && flash.bytesProgrammed() == programmed,
              "a refused record or an address record changed the flash");
        for (std::size_t i = 0; i < before.size(); ++i)
            check(flash.at(static_cast<std::uint32_t>(address + i)) == before[i],
                  "a refused record changed the flash");
    }
    if (outcome.letter == 'R') return;
    check(checksumRight, "a record with a wrong checksum was accepted");
    if (type == 0 && count > 0) {
        check(inMemory && address >= upload::monitorAreaEnd, "a write outside the image's area");
        for (std::size_t i = 0; i < count; ++i) {
            check(flash.at(static_cast<std::uint32_t>(address + i)) == data[i],
                  "an accepted record does not read back");
            shadow.bytes[address + i] = data[i];
        }
    } else if (type == 2 || type == 4) {
        check(count == 2, "an address record without two bytes was accepted");
        shadow.base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << (type == 4 ? 16 : 4);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte sets the chunk sizes; the rest is the line from the host.
    std::uint32_t chunkSeed = data[0];
    const std::span<const std::uint8_t> wire(data + 1, size - 1);

    FlashMemory flash = FlashMemory::board();
    Monitor monitor(Faults{}, flash);
    RecordStream chunked;
    RecordStream byteByByte;
    Shadow shadow;

    std::size_t at = 0;        // fed to the chunked stream
    std::size_t reference = 0; // fed to the byte-by-byte stream
    while (at < wire.size()) {
        chunkSeed = chunkSeed * 1103515245u + 12345u;
        const std::size_t chunk =
            std::min<std::size_t>(1 + (chunkSeed >> 16) % 23, wire.size() - at);
        RecordStream::Event event;
        const std::size_t used = chunked.feed(wire.subspan(at, chunk), event);
        check(used >= 1 && used <= chunk, "feed took no byte or too many");
        at += used;
        if (event.kind == RecordStream::Kind::none) {
            check(used == chunk, "input left over without an event");
            continue;
        }
        // The byte-by-byte stream completes the same event at the same byte, and none before.
        RecordStream::Event single;
        while (reference < at) {
            byteByByte.feed(wire.subspan(reference++, 1), single);
            check(single.kind == RecordStream::Kind::none || reference == at,
                  "byte by byte, an event came at another byte");
        }
        check(single.kind == event.kind, "byte by byte, another event");
        check(std::ranges::equal(single.record, event.record), "byte by byte, another record");

        if (event.kind == RecordStream::Kind::command) {
            check(std::ranges::equal(wire.subspan(at - 6, 6), std::span(programmingCommand)),
                  "a command without the command's bytes");
            shadow.verify(flash);
            shadow = Shadow{};
            const Monitor::Outcome outcome = monitor.onCommand();
            check(outcome.letter == 'N', "the command not accepted");
        } else {
            check(std::ranges::equal(wire.subspan(at - event.record.size(), event.record.size()),
                                     event.record),
                  "a record's bytes are not the bytes that came");
            check(at > event.record.size() && wire[at - event.record.size() - 1] == ':',
                  "a record not after a ':'");
            onRecord(monitor, flash, shadow, event.record);
        }
        chunked.setReceiving(monitor.receiving());
        byteByByte.setReceiving(monitor.receiving());
    }
    shadow.verify(flash);
    for (std::uint32_t a = upload::monitorAreaBegin; a < upload::monitorAreaEnd; ++a)
        check(flash.at(a) == 0xFF && !flash.isWritten(a), "the Monitor's area was written");
    return 0;
}
