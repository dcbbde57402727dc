#include "tools/chain_files.h"

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

const char* const kStoppedChain = R"(# two units, nothing acquiring: spectra stay as they are
[chain]
epoch = 1039009530

[unit 9]
type = 5
version = 0919-005
detectors = 2
channels = 2048
data_mask = 0x00FFFFFF
aux_mask = 0xFF000000
acquiring = no

[unit 9 detector 1]
live_ms = 100000

[unit 9 detector 2]
live_ms = 250000

[unit 12]
type = 4
version = 8474-001
channels = 16384
data_mask = 0x00FFFFFF
aux_mask = 0xFF000000

[unit 12 detector 3]
live_ms = 50000
)";

std::string WriteChain(const std::string& path, const char* text) {
    kestrel_test::WriteText(path, text);
    return path;
}

}  // namespace kestrel_tool_test
