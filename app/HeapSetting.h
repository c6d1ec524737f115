#pragma once

namespace app {

// Has the C library take every block, however large, from its heap and keep what is freed there
// for the next blocks, instead of mapping each large block afresh. Call it first thing in main().
void keepLargeBlocksInHeap();

// Whether room reserved in a block and not yet written takes no memory and no time: true of
// the C library's own heap; an allocator of the sanitizers marks all of a block as it comes
// and goes, at a cost in proportion to its size.
bool reservedRoomIsFree();

} // namespace app
