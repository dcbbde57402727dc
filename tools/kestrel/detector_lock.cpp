#include "kestrel/detector_lock.h"

#include <cctype>

#include "kestrel/tool_error.h"
#include "kestrel/reply_text.h"

namespace kestrel_tool {

std::string OwnerAsStored(const std::string& owner) {
    std::size_t first = 0;
    while (first < owner.size()) {
        unsigned char c = static_cast<unsigned char>(owner[first]);
        if (!std::isdigit(c) && !std::ispunct(c) && !std::isspace(c)) break;
        ++first;
    }
    return owner.substr(first);
}

void RequireLockFree(Addin& addin, const DetectorArgs& target) {
    std::string holder;
    std::uint32_t lock = addin.Lock(target.mcb, target.det, &holder);
    if (lock == 0 || target.force || holder == OwnerAsStored(target.owner)) return;
    throw ToolError(kExitFailed, DetectorName(target) + " is locked by \"" + holder +
                                     "\" (lock " + std::to_string(lock) + "): --owner \"" + holder +
                                     "\" acts as its owner, --force overrides the lock");
}

}  // namespace kestrel_tool
