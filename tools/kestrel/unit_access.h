// Whether this user may use the units of a Windows directory, and what to
// tell the user when the add-in cannot share its table with other programs.
//
// On Linux one group decides who may use the units: the Windows directory's
// group. Its members share the add-in's table, mutex and stored values; a
// user outside it would only work alone on private copies, so the tool
// refuses instead, before the add-in is loaded and before anything stored
// can change.
#pragma once

#include <string>

namespace kestrel_tool {

// Throws ToolError (kExitNotAllowed) when `windir` exists and this user is
// neither root, nor its owner, nor a member of its group.
void RequireUnitAccess(const std::string& windir);

// Once the add-in is open: when it could not map the shared block or the
// mutex of `windir`, says once, on the message stream, that this run works
// alone and why.
void NoticeWorkingAlone(const std::string& windir);

// Why a value stored in the Windows directory's HVNACC32.INI would fail,
// as a tail for a message (": cannot create files in DIR: Permission
// denied"); empty when nothing in the file system stands in the way.
std::string BecauseNotStored(const std::string& windir);

}  // namespace kestrel_tool
