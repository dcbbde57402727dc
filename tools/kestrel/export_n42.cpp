#include "kestrel/export_n42.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "kestrel/exit_codes.h"
#include "kestrel/output_file.h"
#include "kestrel/time_text.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

constexpr const char* kN42Namespace = "http://physics.nist.gov/N42/2011/N42";
constexpr const char* kCalibrationId = "EnergyCalibration-1";

// A random (version 4) UUID for the document.
std::string NewUuid() {
    std::random_device device;
    std::uint32_t word[4];
    for (std::uint32_t& w : word) w = device();
    word[1] = (word[1] & 0xFFFF0FFFu) | 0x00004000u;
    word[2] = (word[2] & 0x3FFFFFFFu) | 0x80000000u;
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%04x%08x", word[0], word[1] >> 16,
                  word[1] & 0xFFFF, word[2] >> 16, word[2] & 0xFFFF, word[3]);
    return text;
}

void Text(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(Utf8Text(value).c_str());
}

// The real time to write, and what the document must say about it. A
// duration of zero is not allowed, and the unit's clock counts whole
// seconds.
std::uint32_t RealSeconds(const AcquisitionTimes& times, std::vector<std::string>* remarks) {
    if (!times.realKnown) {
        remarks->push_back("Real time " + times.RealText() +
                           ": RealTimeDuration and LiveTimeDuration are a placeholder of 1 s, "
                           "not a measurement.");
        return 1;
    }
    if (times.realSeconds == 0) {
        remarks->push_back("Real time under the one second the unit's clock resolves: written "
                           "as 1 s.");
        return 1;
    }
    if (times.active)
        remarks->push_back("Read while the input was counting: the real time runs to the read.");
    return times.realSeconds;
}

// An XML id: no blanks.
std::string DetectorId(int mcb, int det) {
    return "MCB" + std::to_string(mcb) + "-Detector" + std::to_string(det);
}

}  // namespace

void WriteN42(const Spectrum& spectrum, const std::string& path) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";

    pugi::xml_node root = document.append_child("RadInstrumentData");
    root.append_attribute("xmlns") = kN42Namespace;
    root.append_attribute("n42DocUUID") = NewUuid().c_str();
    Text(root, "RadInstrumentDataCreatorName", "kestrel command-line host");

    pugi::xml_node instrument = root.append_child("RadInstrumentInformation");
    instrument.append_attribute("id") = "RadInstrumentInformation-1";
    Text(instrument, "RadInstrumentManufacturerName", "Unknown");
    Text(instrument, "RadInstrumentModelName", "MCB version " + spectrum.version);
    Text(instrument, "RadInstrumentClassCode", "Other");
    pugi::xml_node version = instrument.append_child("RadInstrumentVersion");
    Text(version, "RadInstrumentComponentName", "MCB");
    Text(version, "RadInstrumentComponentVersion", spectrum.version);

    // Readers show the id as the detector's name.
    std::string detectorId = DetectorId(spectrum.mcb, spectrum.det);
    pugi::xml_node detector = root.append_child("RadDetectorInformation");
    detector.append_attribute("id") = detectorId.c_str();
    Text(detector, "RadDetectorName", spectrum.Name());
    Text(detector, "RadDetectorCategoryCode", "Gamma");
    Text(detector, "RadDetectorKindCode", "Other");
    Text(detector, "RadDetectorDescription",
         spectrum.description + " (identifier " + std::to_string(spectrum.id) + ")");

    // No energy calibration is known; without one readers invent an axis.
    // Energy = channel number keeps a partial read where it belongs.
    pugi::xml_node calibration = root.append_child("EnergyCalibration");
    calibration.append_attribute("id") = kCalibrationId;
    Text(calibration, "Remark",
         "Not an energy calibration: the axis is the channel number, and the first value of "
         "the spectrum is channel " + std::to_string(spectrum.start) + ".");
    Text(calibration, "CoefficientValues", std::to_string(spectrum.start) + " 1 0");

    std::vector<std::string> remarks;
    std::uint32_t real = RealSeconds(spectrum.times, &remarks);
    if (spectrum.times.realKnown)
        remarks.push_back(std::string("Live time ") + kLiveTimeUnreported +
                          ": LiveTimeDuration is the real time, without dead-time correction.");
    pugi::xml_node measurement = root.append_child("RadMeasurement");
    measurement.append_attribute("id") = "RadMeasurement-1";
    for (const std::string& remark : remarks) Text(measurement, "Remark", remark);
    Text(measurement, "MeasurementClassCode", "Foreground");
    if (spectrum.times.start != 0)
        Text(measurement, "StartDateTime", UtcTimeText(spectrum.times.start));
    std::string duration = "PT" + std::to_string(real) + "S";
    Text(measurement, "RealTimeDuration", duration);

    pugi::xml_node data = measurement.append_child("Spectrum");
    data.append_attribute("id") = "Spectrum-1";
    data.append_attribute("radDetectorInformationReference") = detectorId.c_str();
    data.append_attribute("energyCalibrationReference") = kCalibrationId;
    Text(data, "Remark",
         "channels " + std::to_string(spectrum.start) + " to " +
             std::to_string(spectrum.LastChannel()) + " of " + spectrum.Name() + ", view " +
             std::to_string(spectrum.view));
    Text(data, "LiveTimeDuration", duration);
    std::string counts;
    counts.reserve(spectrum.words.size() * 6);
    for (std::size_t i = 0; i < spectrum.words.size(); ++i) {
        if (i) counts += ' ';
        counts += std::to_string(spectrum.Counts(i));
    }
    pugi::xml_node channels = data.append_child("ChannelData");
    channels.append_attribute("compressionCode") = "None";
    channels.text().set(counts.c_str());

    OutputFile file(path);  // "-": standard output
    pugi::xml_writer_file writer(file.get());
    document.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
    file.Close();
}

}  // namespace kestrel_tool
