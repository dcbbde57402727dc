// Times as people read them.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel_tool {

// "2002-12-04 13:45:30" in local time; "none" for 0.
std::string LocalTimeText(std::uint32_t seconds);
// "2002-12-04T12:45:30Z"; empty for 0.
std::string UtcTimeText(std::uint32_t seconds);

}  // namespace kestrel_tool
