#pragma once

namespace app {

// Has the C library take every block, however large, from its heap and keep what is freed there
// for the next blocks, instead of mapping each large block afresh. Call it first thing in main().
void keepLargeBlocksInHeap();

} // namespace app
