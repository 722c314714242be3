// Which process holds each socket, from one pass over the open files of all processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane::sys {

// Socket inode -> process id.
using SocketOwners = std::unordered_map<uint32_t, uint32_t>;

// The inode of an fd link's target "socket:[12345]"; false for any other target.
bool socketInode(std::string_view target, uint32_t& inode);

// Owners of the given socket inodes, read from <procRoot>/<pid>/fd. A socket several
// processes share (inherited across fork) goes to the lowest pid. Inodes no readable
// process holds map to 0, as do all when procRoot cannot be read.
SocketOwners socketOwners(const std::string& procRoot, const std::vector<uint32_t>& inodes);

// As socketOwners, but a pass made less than maxAgeMs ago answers when it saw every asked
// inode: the TCP and UDP listings of one refresh then share one pass over all processes.
SocketOwners recentSocketOwners(const std::string& procRoot, const std::vector<uint32_t>& inodes,
                                int maxAgeMs = 250);

// Starts such a pass on a thread of its own, for a listing about to come: the pass over
// every process then runs beside the reads before the listing. recentSocketOwners joins in
// on the processes it has not yet reached, waits for the rest (within a bound) and answers
// from it under the same terms. Does nothing while one runs.
// first, when given, runs on that thread before the pass: another long read to have done
// meanwhile.
void warmSocketOwners(const std::string& procRoot, const std::function<void()>& first = {});

} // namespace corvane::sys
