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

#ifndef _WIN32
#include <signal.h>
#endif

namespace pev {

#ifdef _WIN32
using NativeName = std::wstring;
#else
using NativeName = std::string;
#endif

// Removes `name` if the process is interrupted before the matching
// forget_on_interrupt(). Returns the entry to forget, or -1 when the table is
// full or the name too long: the file is then left on interruption.
int remove_on_interrupt(const NativeName& name);

// Ends the entry `entry` (-1 is ignored): its name was renamed or removed.
void forget_on_interrupt(int entry);

// While alive, this thread takes no interruption, so that a file created and
// then registered cannot be left behind by a signal in between; a signal that
// came meanwhile arrives when it ends. Does nothing on Windows.
class InterruptionsHeld {
  public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

#ifndef _WIN32
  private:
    sigset_t saved_; // the thread's mask before
#endif
};

} // namespace pev
