#pragma once

// What a board may still owe on a port, as one run leaves it for the next. The replies carry no
// record number, so a run that starts while the board still answers an earlier one would take
// those answers for its own; the next run on the port (in this process or another, by any user)
// first waits the debt out, listening: each answer that comes pays one, and once none is owed and
// the line has been quiet, its command goes out.

#include <chrono>
#include <cstdint>

namespace upload {

struct OwedAnswers {
    // Answers the board may still give to sends made so far.
    std::int32_t answers = 0;
    // While it owes any, the board is never silent longer than this: each owed answer comes
    // within it of the one before (of the last thing heard, for the first).
    std::chrono::nanoseconds quiet{};
    // From now, until when the last of them may come; zero when nothing is owed.
    std::chrono::nanoseconds left{};

    bool owesAny() const { return answers > 0 && left > std::chrono::nanoseconds::zero(); }
    bool operator==(const OwedAnswers&) const = default;
};

// The longest a run can be made to wait for an earlier one's answers. A state that says more is
// cut down to it (another user may have planted it); a run whose debt would grow past it stops as
// unconfirmed rather than leave the next run a wait it cannot keep.
inline constexpr std::chrono::minutes longestOwedWait{10};

} // namespace upload
