// What kestrel and kestrel-portd tell scripts through their exit status.
#pragma once

namespace tools {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,       // the add-in (or the MCB behind it) said no; the service failed
    kExitUsage = 2,        // bad command line or bad input
    kExitEnvironment = 3,  // add-in library or driver service not available (or gone)
    kExitTimeout = 4,      // --timeout: a wait lasted longer
    // Not allowed to use the units of the Windows directory (sysexits' "no
    // permission").
    kExitNotAllowed = 77,
    // A run ended by stop signal N exits with this plus N, as the shell
    // reports a program killed by it.
    kExitStopSignal = 128,
    // A reader closed standard output (`| head`): the run ends quietly with
    // the status a program killed by SIGPIPE has, as other tools in a
    // pipeline do.
    kExitClosedPipe = 141,
};

}  // namespace tools
