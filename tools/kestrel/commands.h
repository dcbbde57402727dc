// The subcommands. Each returns the exit code; errors that stop one are
// thrown as ToolError.
#pragma once

#include "kestrel/options.h"

namespace kestrel_tool {

int RunList(const GlobalOptions& options, const ListArgs& args);
int RunRaw(const GlobalOptions& options, const RawArgs& args);
int RunRead(const GlobalOptions& options, const ReadArgs& args);
int RunRoi(const GlobalOptions& options, const RoiArgs& args);
int RunLock(const GlobalOptions& options, const LockArgs& args);
int RunUnlock(const GlobalOptions& options, const DetectorArgs& args);
int RunDescribe(const GlobalOptions& options, const DescribeArgs& args);
int RunSetId(const GlobalOptions& options, const SetIdArgs& args);
int RunStartTime(const GlobalOptions& options, const StartTimeArgs& args);
int RunStart(const GlobalOptions& options, const AcquireArgs& args);
int RunStop(const GlobalOptions& options, const AcquireArgs& args);
int RunClear(const GlobalOptions& options, const AcquireArgs& args);
int RunWait(const GlobalOptions& options, const AcquireArgs& args);
int RunDemo(const GlobalOptions& options, const DemoArgs& args);

}  // namespace kestrel_tool
