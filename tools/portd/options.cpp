#include "portd/options.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "common/exit_codes.h"
#include "platform/posix/driver_socket.h"
#include "platform/posix/files.h"

namespace portd {

int ParseOptions(int argc, char** argv, Options* options) {
    CLI::App app{
        "kestrel-portd: serves a simulated MCB chain as the printer-port driver, over a Unix "
        "socket, to every Kestrel client process of one Windows directory."};
    app.add_option("--windir", options->windir,
                   "Windows directory of the system to serve (default: $WINDIR, else "
                   "/var/lib/hvnacc32)");
    app.add_option("--device", options->device,
                   "device name: clients open \\\\.\\NAME, served at WINDIR/dev/NAME")
        ->check([](const std::string& name) {
            std::string path;  // the clients' own rule for a device path
            bool plain = platform::posix::DriverSocketPath("", ("\\\\.\\" + name).c_str(), &path);
            return plain ? std::string() : "a device name has no '/' or '\\'";
        });
    app.add_option("--config", options->config,
                   "chain description file (default: the demo chain, MCB 9 and MCB 12)")
        ->check(CLI::ExistingFile);
    app.add_option("--group", options->group,
                   "the group whose members may use the units (usually lp): the Windows directory "
                   "and the socket are given to it (default: the Windows directory's group)");
    app.add_flag("-v,--verbose", options->verbose,
                 "report connections as they come and go, with each client's uid, pid and program");
    app.footer("Exit codes: " + std::to_string(tools::kExitOk) +
               " stopped by SIGINT or SIGTERM (the socket removed); " +
               std::to_string(tools::kExitFailed) +
               " the socket path is busy or another service serves it, the Windows directory is "
               "unusable, or the service failed; " +
               std::to_string(tools::kExitUsage) +
               " bad usage, an unknown group, or a chain description that is missing, unreadable "
               "or garbled.");
    app.set_version_flag("--version", std::string("kestrel-portd ") + KESTREL_VERSION);
    // Every error line of the service starts with its name.
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string("kestrel-portd: ") + error.what() +
               "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is a success; any other parse error is bad usage, 2, as
        // with the kestrel tool.
        if (app.exit(e) != 0) return tools::kExitUsage;
        std::cout.flush();
        if (std::cout) return tools::kExitOk;
        std::fprintf(stderr, "kestrel-portd: cannot write standard output; output is missing\n");
        return tools::kExitFailed;
    }
    if (options->windir.empty()) options->windir = platform::posix::WindowsDirectoryFromEnvironment();
    return -1;
}

}  // namespace portd
