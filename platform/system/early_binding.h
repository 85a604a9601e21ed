#pragma once
// Binding, before any crash, the C library functions a crash handler calls.
//
// A program is linked to bind its calls into shared libraries lazily: the first call of a function
// goes through the dynamic loader, which looks its name up in the symbol tables of the loaded
// libraries, one after another. Inside a crash handler that lookup costs microseconds a function
// (the tables are cold, and a program loads a hundred libraries), and it runs the loader's code and
// reads its data in a process that has just failed. bindSignalHandlerCalls makes the first call of
// each such function now, with arguments that fail at once and change nothing, so that the crash path
// finds them bound. Idempotent. Not meant for a signal handler (it runs the loader), though every call
// it makes is safe there.

namespace sys {

void bindSignalHandlerCalls() noexcept;

}  // namespace sys
