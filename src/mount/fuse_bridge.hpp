#pragma once
// libfuse's high-level operations, each passing its call to the MountTree
// given to fuse_new as private data.

#define FUSE_USE_VERSION 31
#include <fuse.h>

namespace pev::mount {

// Every operation the mounted folder answers; what it leaves out (links,
// folders, devices) libfuse refuses.
fuse_operations fuse_bridge_operations(bool writable);

} // namespace pev::mount
