// kestrel: the command-line host of the Kestrel add-in.
#include <exception>
#include <string>

#include "kestrel/cli.h"
#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/interrupts.h"

int main(int argc, char** argv) {
    using namespace kestrel_tool;
    HandleStopSignals();
    try {
        return RunCommandLine(argc, argv);
    } catch (const ToolError& error) {
        Say(error.what());
        return error.code();
    } catch (const std::exception& error) {
        Say(std::string("unexpected error: ") + error.what());
        return kExitFailed;
    } catch (...) {
        Say("unexpected error");
        return kExitFailed;
    }
}
