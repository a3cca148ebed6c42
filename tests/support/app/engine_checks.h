// Observations of the main dialog that several engine tests make.
#pragma once

#include <string>
#include <vector>

#include "support/app/app_fixture.h"
#include "support/fault_server.h"

namespace apptest {

// Whether the progress timer is armed now; an armed one stays armed (its period starts again).
inline bool ProgressTimerArmed(TestDlg& dlg) {
    if (!dlg.KillTimer(CZELVDownloaderDlg::IDT_PROGRESS))
        return false;
    dlg.SetTimer(CZELVDownloaderDlg::IDT_PROGRESS, CZELVDownloaderDlg::PROGRESS_TIMER_MS, nullptr);
    return true;
}

// How often `part` occurs in `text`.
inline size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Makes `faults` the only faults of `path`.
inline void SetFaults(fixtures::FaultServer& server, const std::string& path,
                      const std::vector<fixtures::Fault>& faults) {
    server.ClearFaults(path);
    for (const fixtures::Fault& fault : faults)
        server.AddFault(path, fault);
}

// The Range headers of the GET requests that the server read from the `first`th request on.
inline std::vector<std::string> RangesAskedSince(const fixtures::FaultServer& server,
                                                 size_t first) {
    std::vector<std::string> ranges;
    const auto requests = server.Requests();
    for (size_t i = first; i < requests.size(); ++i) {
        if (requests[i].method == "GET")
            ranges.push_back(requests[i].range);
    }
    return ranges;
}

}  // namespace apptest
