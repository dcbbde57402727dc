// Where the cross-process tests and their children leave values for each
// other in a shared block: words of one MCB record's dwDetectorWord array.
#pragma once

namespace wintest {

constexpr int kPeerMcb = 16;
constexpr int kPeerRecord = kPeerMcb - 9;

constexpr int kParentWord = 15;  // written by the parent before the child starts
constexpr int kChildWord = 14;   // the child's answer

// The add-in peer's report.
constexpr int kReportMarker = 0;
constexpr int kReportCountAtLoad = 1;
constexpr int kReportCountAfterOpen = 2;
constexpr int kReportCountAfterClose = 3;

}  // namespace wintest
