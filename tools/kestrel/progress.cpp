#include "kestrel/progress.h"

#include "kestrel/console.h"

namespace kestrel_tool {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

ProgressBar::ProgressBar(std::string label, std::uint64_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::uint64_t done) {
    if (!enabled_ || total_ == 0) return;
    if (done > total_) done = total_;
    int filled = static_cast<int>(done * kBarWidth / total_);
    // Redraw only when the bar moves, so a fast read writes little.
    if (filled == lastWidth_ && done != total_) return;
    lastWidth_ = filled;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::fprintf(Messages(), "\r%s [%s] %3u%% %llu/%llu", label_.c_str(), bar.c_str(),
                 static_cast<unsigned>(done * 100 / total_), static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_));
    std::fflush(Messages());
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (!drawn_) return;
    std::fputc('\n', Messages());
    std::fflush(Messages());
    drawn_ = false;
}

}  // namespace kestrel_tool
