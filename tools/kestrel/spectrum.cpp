#include "kestrel/spectrum.h"

#include <algorithm>

#include "kestrel/tool_error.h"
#include "kestrel/progress.h"
#include "kestrel/reply_text.h"
#include "kestrel/views.h"

namespace kestrel_tool {

std::uint64_t Spectrum::Total() const {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < words.size(); ++i) total += Counts(i);
    return total;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> Spectrum::RoiRuns() const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (!InRoi(i)) continue;
        std::uint32_t channel = start + static_cast<std::uint32_t>(i);
        if (!runs.empty() && runs.back().second + 1 == channel)
            runs.back().second = channel;
        else
            runs.emplace_back(channel, channel);
    }
    return runs;
}

std::string Spectrum::Name() const {
    return DetectorName(mcb, det);
}

Spectrum ReadSpectrum(Addin& addin, int mcb, int det, std::uint32_t start, std::uint32_t count,
                      int view, bool showProgress) {
    Spectrum spectrum;
    spectrum.mcb = mcb;
    spectrum.det = det;
    spectrum.view = view;
    spectrum.start = start;
    spectrum.words.assign(count, 0);
    ProgressBar bar(DetectorName(mcb, det), count,
                    showProgress);
    for (std::uint32_t done = 0; done < count;) {
        std::uint32_t chunk = std::min(kReadChunk, count - done);
        std::int32_t result =
            addin.GetData(mcb, det, start + done, static_cast<std::int32_t>(chunk), view,
                          spectrum.words.data() + done, &spectrum.dataMask, &spectrum.auxMask);
        if (result != 1)
            throw ToolError(kExitFailed, "the add-in refused to read channels " +
                                             std::to_string(start + done) + " to " +
                                             std::to_string(start + done + chunk - 1) +
                                             " of " + DetectorName(mcb, det) + " (result " +
                                             std::to_string(result) + ")" +
                                             (result == -1 ? ViewFailure(view) : ""));
        done += chunk;
        bar.Update(done);
    }
    bar.Finish();
    spectrum.version = addin.McbVersion(mcb);
    bool isDefault = true;
    addin.Description(mcb, det, &spectrum.description, &isDefault);
    addin.DetectorId(mcb, det, &spectrum.id, &isDefault);
    spectrum.times = ReadAcquisitionTimes(addin, mcb, det);
    return spectrum;
}

}  // namespace kestrel_tool
