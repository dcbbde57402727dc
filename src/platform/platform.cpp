#include "platform/platform.h"

namespace platform {
namespace {
Os* g_replacement = nullptr;
}

Os& os() { return g_replacement ? *g_replacement : NativeOs(); }

void SetOs(Os* replacement) { g_replacement = replacement; }

}  // namespace platform
