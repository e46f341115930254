// Process set-up for the Windows test programs, linked into each of them.
//
// Standard output and error in binary mode, so that lines end in LF as on
// Linux: the C runtime opens them in text mode (CR LF), which the build's test
// discovery, reading the program's test list, does not expect.
//
// A crash ends the process at once with the exception code as exit status.
// Left to itself, wine hands an unhandled exception to its debugger, and once
// the process has ever run a second thread the exit status then comes out 0:
// the crashed test program would pass.
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

LONG WINAPI on_unhandled(EXCEPTION_POINTERS *ep)
{
    const DWORD code = ep->ExceptionRecord->ExceptionCode;
    std::fprintf(stderr, "unhandled exception 0x%08lx at %p\n", static_cast<unsigned long>(code),
                 ep->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    // Wine passes on the low 8 bits of the status only; keep them nonzero.
    TerminateProcess(GetCurrentProcess(), (code & 0xFF) != 0 ? code : (code | 0xFF));
    return EXCEPTION_CONTINUE_SEARCH;
}

const int set_up = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetUnhandledExceptionFilter(on_unhandled);
    return 0;
}();

} // namespace
