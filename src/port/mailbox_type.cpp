// Finding out whether an MCB answers at a number, and at which byte spacing
// its mailbox is reached.
#include "addin/process_state.h"
#include "addin/shared_state.h"
#include "platform/platform.h"
#include "port/device_memory.h"
#include "port/mailbox_layout.h"

namespace {

// Writes patterns to the scratch bytes and reads them back. Fails on a port
// that echoes the last byte written (offset 1 would read back offset 2's
// value) and on memory that every MCB number shows alike (the neighbour
// would never differ).
bool PatternTest(std::int32_t nMcb, std::int32_t nNeighbour, std::int32_t nType) {
    static const unsigned char patterns[3][2] = {{0x00, 0xA5}, {0xA5, 0x00}, {0x5A, 0x00}};
    bool bUnitSpecific = false;
    SelectUnit(nMcb, 1);
    for (const auto& pattern : patterns) {
        WriteMailboxByte(nType, MCB_SCRATCH1, pattern[0]);
        for (int i = 0; i < 3; ++i) {
            WriteMailboxByte(nType, MCB_SCRATCH2, pattern[1]);
            if (ReadMailboxByte(nType, MCB_SCRATCH1) != pattern[0]) return false;
        }
        WriteMailboxByte(nType, MCB_SCRATCH2, pattern[1]);
        SelectUnit(nNeighbour, 1);
        if (ReadMailboxByte(nType, MCB_SCRATCH1) != pattern[0]) bUnitSpecific = true;
        SelectUnit(nMcb, 1);
    }
    return bUnitSpecific;
}

}  // namespace

std::int32_t DetectMailboxType(std::int32_t nMcb) {
    if (Process().hPortDriver == platform::kInvalidHandle) return -1;
    std::int32_t nNeighbour = nMcb + 1 > MCB_LAST ? MCB_FIRST : nMcb + 1;

    SelectUnit(nMcb, 1);
    unsigned char saved4[2];
    ReadMailboxBlock(4, MCB_SCRATCH1, 2, saved4);
    if (PatternTest(nMcb, nNeighbour, 4)) {
        // A type-4 MCB shows its mailbox bytes in the data space too.
        SelectUnit(nMcb, 0);
        if (ReadMailboxByte(4, MCB_SCRATCH1) != 0x5A) return 5;
        SelectUnit(nMcb, 1);
        WriteMailboxByte(4, MCB_SCRATCH1, 0xA5);
        WriteMailboxByte(4, MCB_SCRATCH2, 0x00);
        SelectUnit(nMcb, 0);
        std::int32_t nByte = ReadMailboxByte(4, MCB_SCRATCH1);
        SelectUnit(nMcb, 1);
        return nByte == 0xA5 ? 4 : 5;
    }
    WriteMailboxBlock(4, MCB_SCRATCH1, 2, saved4);

    unsigned char saved5[2];
    ReadMailboxBlock(5, MCB_SCRATCH1, 2, saved5);
    if (PatternTest(nMcb, nNeighbour, 5)) return 5;
    WriteMailboxBlock(5, MCB_SCRATCH1, 2, saved5);
    return -1;
}
