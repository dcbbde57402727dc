// A progress bar on the message stream, for reads that take a while.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel_tool {

class ProgressBar {
public:
    // Draws nothing unless `enabled`.
    ProgressBar(std::string label, std::uint64_t total, bool enabled);
    ~ProgressBar();
    void Update(std::uint64_t done);
    // Ends the bar's line (also done by the destructor).
    void Finish();

private:
    std::string label_;
    std::uint64_t total_;
    bool enabled_;
    bool drawn_ = false;
    int lastWidth_ = -1;
};

}  // namespace kestrel_tool
