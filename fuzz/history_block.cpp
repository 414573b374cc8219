// An event-log block answer walked slot by slot (HistoryRetrieval::WalkBlock) as the history retrieval
// does. Byte 0: bit 0 = an "All Events" read that may still restart; then the plan's slot count and
// the slots consumed before (16-bit each, low byte first); the rest is the answer frame.
#include "FuzzSupport.h"

#include "operations/HistoryRetrieval.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    fuzzsupport::Reader in(data, size);
    const bool mayRestart = (in.u8() & 1) != 0;
    // As the retrieval has them: a plan and a count of consumed slots, neither of them negative.
    const int planned = in.i16() & 0x7FFF;
    const int processed = in.i16() & 0x7FFF;
    const QByteArray answer = in.rest();

    const bool empty = HistoryRetrieval::IsEmptyHistory(answer);
    for (qsizetype i = 3; i < answer.size(); ++i)
        FUZZ_CHECK(!empty || answer.at(i) == 0);

    int examined = 0;
    const HistoryRetrieval::BlockWalk walk = HistoryRetrieval::WalkBlock(answer, planned, processed, mayRestart, [&] {
        ++examined;
        return true;
    });
    // At most 30 slots are examined; the last event may take two more.
    FUZZ_CHECK(examined <= 30);
    FUZZ_CHECK(walk.consumed >= 0 && walk.consumed <= 32);
    FUZZ_CHECK(walk.validEvents >= 0 && 2 * walk.validEvents <= walk.consumed);
    FUZZ_CHECK(!(walk.endOfLog && walk.endOfBlock));
    if (walk.restart) {
        // Only at the very start, and nothing of the answer is kept.
        FUZZ_CHECK(mayRestart && processed == 0);
        FUZZ_CHECK(walk.consumed == 0 && walk.validEvents == 0 && walk.notes.isEmpty());
        FUZZ_CHECK(!walk.endOfLog && !walk.endOfBlock);
        return 0;
    }
    if (walk.endOfLog)
        FUZZ_CHECK(walk.processedSlots == planned);
    else
        FUZZ_CHECK(walk.processedSlots == processed + walk.consumed);
    // Every slot examined lay inside the answer, with a byte of the slot after its time stamp
    // before the answer's last byte; the last one examined was at most three slots back.
    if (walk.consumed > 0)
        FUZZ_CHECK(answer.size() - 1 > 4 * qsizetype(std::max(0, walk.consumed - 3)) + 3 + 8);
    if (walk.endOfBlock)
        FUZZ_CHECK(answer.size() - 1 <= 4 * qsizetype(walk.consumed) + 3 + 8);
    // One note per slot decision, and one for the end.
    FUZZ_CHECK(walk.notes.size() <= examined);
    return 0;
}
