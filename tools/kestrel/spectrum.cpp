#include "kestrel/spectrum.h"

#include <algorithm>
#include <ctime>

#include "kestrel/exit_codes.h"
#include "kestrel/progress.h"

namespace kestrel_tool {

std::uint64_t Spectrum::Total() const {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < words.size(); ++i) total += Counts(i);
    return total;
}

Spectrum ReadSpectrum(Addin& addin, int mcb, int det, std::uint32_t start, std::uint32_t count,
                      int view, bool showProgress) {
    Spectrum spectrum;
    spectrum.mcb = mcb;
    spectrum.det = det;
    spectrum.view = view;
    spectrum.start = start;
    spectrum.words.assign(count, 0);
    ProgressBar bar("MCB " + std::to_string(mcb) + " detector " + std::to_string(det), count,
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
                                             " of MCB " + std::to_string(mcb) + " detector " +
                                             std::to_string(det) + " (result " +
                                             std::to_string(result) + ")");
        done += chunk;
        bar.Update(done);
    }
    bar.Finish();
    spectrum.version = addin.McbVersion(mcb);
    bool isDefault = true;
    addin.Description(mcb, det, &spectrum.description, &isDefault);
    addin.DetectorId(mcb, det, &spectrum.id, &isDefault);
    spectrum.startTime = addin.StartTime(mcb, det, &spectrum.readTime);
    if (spectrum.readTime == 0) spectrum.readTime = static_cast<std::uint32_t>(std::time(nullptr));
    return spectrum;
}

}  // namespace kestrel_tool
