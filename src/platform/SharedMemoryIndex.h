// Which named shared-memory blocks this process created and has not removed yet, kept in a small
// index file next to the blocks: /dev/shm/quarvo-segments.<pid>. Its first line names the owner
// ("quarvo-segments <pid> <start time>", the start time in clock ticks since boot as the kernel
// reports it, so a reused pid is told apart); then one line per change, "+NAME" when a block is
// created and "-NAME" when it is removed. The file exists only while the process owns blocks.
//
// The record layout itself carries no owner: the index sits beside the blocks, so nothing another
// process reads from a record changes.
//
// removeOrphans() runs at the start of a session: for every index whose owner no longer runs, it
// removes the blocks the index still lists, then the index. Blocks of live processes, blocks that
// no index lists and files of other users are never touched.
#pragma once

#include <QString>

namespace SharedMemoryIndex {

// Called by SharedMemory when it created a block, and when it unlinked one.
void noteCreated(const QString &name);
void noteRemoved(const QString &name);

// Removes the blocks of dead owners and their index files; returns how many blocks it removed.
int removeOrphans();

// Path of this process's index file (whether or not it exists now).
QString ownIndexPath();

} // namespace SharedMemoryIndex
