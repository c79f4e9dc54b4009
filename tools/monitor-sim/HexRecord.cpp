#include "tools/monitor-sim/HexRecord.h"

#include "upload/IntelHexRecord.h"

#include <cassert>

namespace monitorsim {

RecordView RecordView::of(std::span<const std::uint8_t> raw) {
    assert(!raw.empty() && raw.size() == recordLength(raw[0]));
    RecordView view{};
    view.byteCount = raw[0];
    view.address = static_cast<std::uint16_t>(raw[1] << 8 | raw[2]);
    view.type = raw[3];
    view.data = raw.subspan(4, view.byteCount);
    view.checksumRight = upload::intelhex::recordChecksum(raw.first(raw.size() - 1)) == raw.back();
    return view;
}

} // namespace monitorsim
