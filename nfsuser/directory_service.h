// SPDX-License-Identifier: MIT
// The bridge to the directory-service library (qelnis): no handle is kept
// between calls.
#pragma once

#include <cstdint>

namespace qelrpc::nfsuser::directory {

// Loads the library and asks dirservice_gettype: true when it answers
// nonzero with a nonzero type. A library that is missing, cannot be loaded
// or lacks the entry point is "not configured", never an error.
bool configured() noexcept;

// The four questions, each with one load of the library for all its names
// or ids. -1 when the library or the entry point cannot be had (nothing is
// written then), else 0.
//   groupNamesToGids: gids[i] = the i-th name's gid, -1 when unknown.
//   userNamesToUids:  uids[i] likewise; an empty name is not asked, -1.
//   gidsToGroupNames / uidsToUserNames: one name per id appended to the
//     name list `names` (an empty name where the library has none).
int groupNamesToGids(uint32_t count, const char* names, int32_t* gids) noexcept;
int userNamesToUids(uint32_t count, const char* names, int32_t* uids) noexcept;
int gidsToGroupNames(uint32_t count, const int32_t* gids, char* names) noexcept;
int uidsToUserNames(uint32_t count, const int32_t* uids, char* names) noexcept;

}  // namespace qelrpc::nfsuser::directory
