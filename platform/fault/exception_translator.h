// Turns hardware faults on a thread into C++ exceptions the thread can catch.
//
// After installExceptionTranslator(), a synchronous fault signal on the
// calling thread (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP raised by the
// faulting instruction itself) is translated: a report is appended to the
// thread's file (exception_report.h) and a new GLL_SE_Exception is thrown by
// pointer from the faulting instruction, so the thread's own
//
//     try { ... } catch (GLL_SE_Exception* e) { ...; delete e; } catch (...) { ... }
//
// receives it and destructors on the way run. A stack overflow is reported
// too: the handler runs on an alternate signal stack of the thread's own.
//
// One report is built at a time in the process. A fault that arrives while
// one is being built (on another thread, or inside the report itself) is
// thrown as its bare code, an unsigned int, without a report; a fault inside
// the report leaves the process in that state for good. Catchers therefore
// also catch everything else.
//
// Threads that did not install the translator are not affected: a fault there
// goes to whatever handled it before (the default action kills the process).
// Signals sent by another process or by kill() are not faults and are passed
// on the same way.
//
// Code that may fault on such a thread is built with -fnon-call-exceptions
// (the library is), so that a trapping instruction can raise an exception.
//
// On Windows (exception_translator_windows.cpp) a vectored exception handler
// takes the place of the signal handler: it writes the report for a fault
// (any exception with the error or warning severity, other than the C++
// runtimes' own) on a thread with the translator, then resumes that thread
// in a function that throws, as if the faulting instruction had called it.
#pragma once

// Installs the translator for the calling thread; true when it is in place.
// Installing twice changes nothing.
bool installExceptionTranslator();
// Takes the translator off the calling thread and frees its alternate signal
// stack. A thread calls it before it ends; one that does not leaves its
// alternate stack allocated.
void removeExceptionTranslator();
bool isExceptionTranslatorInstalled();
