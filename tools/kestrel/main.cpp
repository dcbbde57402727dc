// kestrel: the command-line host of the Kestrel add-in.
#include <exception>
#include <string>

#include "kestrel/cli.h"
#include "kestrel/console.h"
#include "kestrel/tool_error.h"
#include "kestrel/interrupts.h"
#include "kestrel/output_file.h"

int main(int argc, char** argv) {
    using namespace kestrel_tool;
    WatchStandardOutput();
    HandleStopSignals();
    int code = kExitFailed;
    try {
        code = RunCommandLine(argc, argv);
    } catch (const ToolError& error) {
        if (*error.what() != '\0') Say(error.what());  // a closed pipe ends quietly
        code = error.code();
    } catch (const std::exception& error) {
        Say(std::string("unexpected error: ") + error.what());
    } catch (...) {
        Say("unexpected error");
    }
    // Output that never got out makes the run a failure, whatever it did.
    return code == kExitClosedPipe ? code : FinishStandardOutput(code);
}
