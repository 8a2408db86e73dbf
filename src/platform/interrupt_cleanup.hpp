#pragma once
// Temporary files that stand under a name on disk are removed when the
// program is interrupted (Ctrl-C, a closed terminal, kill), so that an
// interrupted run leaves nothing behind in the folders it wrote to.
//
// The names are kept in a fixed table that a signal handler can read without
// allocating or locking. The handlers (SIGINT, SIGTERM and SIGHUP; a console
// control handler on Windows) are installed on the first registration; a
// handler the program set before is called after the files are removed, and
// a signal the program ignores stays ignored.

#include <string>

namespace pev {

#ifdef _WIN32
using NativeName = std::wstring;
#else
using NativeName = std::string;
#endif

// Removes `name` if the process is interrupted before the matching
// forget_on_interrupt(). Returns the entry to forget, or -1 when the table is
// full or the name too long: the file is then left on interruption. A name
// may be entered before its file is created, so that no moment is left in
// which the file stands unentered; it must then be a name no other file can
// bear (see temporary_name.hpp), since the handler removes whatever is there.
int remove_on_interrupt(const NativeName& name);

// Ends the entry `entry` (-1 is ignored): its name was renamed or removed.
void forget_on_interrupt(int entry);

} // namespace pev
