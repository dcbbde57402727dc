#include "kestrel/export_n42.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "kestrel/tool_error.h"
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

// An XML id: no blanks.
std::string DetectorId(int mcb, int det) {
    return "MCB" + std::to_string(mcb) + "-Detector" + std::to_string(det);
}

void AppendMeasurement(pugi::xml_node root, const Spectrum& spectrum, const std::string& detectorId) {
    const AcquisitionTimes& times = spectrum.times;
    std::vector<std::string> remarks;
    if (times.realGiven)
        remarks.push_back("The real time was given with --real-time: kestrel did not record when the "
                          "input stopped.");
    if (times.earlier != 0)
        remarks.push_back("The spectrum holds the counts of earlier runs too: StartDateTime is the "
                          "start of the last run, RealTimeDuration the real time of all of them.");
    if (times.active)
        remarks.push_back("Read while the input was counting: the real time runs to the read.");
    remarks.push_back(std::string("LiveTimeDuration: ") + kLiveTimeDerived + ".");
    pugi::xml_node measurement = root.append_child("RadMeasurement");
    measurement.append_attribute("id") = "RadMeasurement-1";
    for (const std::string& remark : remarks) Text(measurement, "Remark", remark);
    Text(measurement, "MeasurementClassCode", "Foreground");
    Text(measurement, "StartDateTime", UtcTimeText(times.start));
    std::string duration = "PT" + std::to_string(times.realSeconds) + "S";
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
}

}  // namespace

void RequireN42Times(const Spectrum& spectrum) {
    const AcquisitionTimes& times = spectrum.times;
    std::string name = spectrum.Name();
    if (!times.realKnown)
        throw ToolError(kExitFailed, "no N42 file written: the real time of " + name + " is unknown (" +
                                         times.realUnknownWhy + "), and an N42 file states it as "
                                         "measured; give it with --real-time SECONDS if you know it");
    // The schema wants a real time above 0 for a measurement; a spectrum
    // with no counts and no counting time is no measurement.
    if (times.realSeconds == 0 && spectrum.Total() != 0)
        throw ToolError(kExitFailed, "no N42 file written: the real time of " + name +
                                         " is 0 s (under the one second its clock resolves), which an "
                                         "N42 measurement cannot state; read it again a second later, or "
                                         "give --real-time SECONDS");
    if (times.realSeconds != 0 && times.start == 0)
        throw ToolError(kExitFailed, "no N42 file written: no start time of " + name +
                                         " is known, and an N42 measurement states one");
}

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

    const AcquisitionTimes& times = spectrum.times;
    RequireN42Times(spectrum);
    if (times.realSeconds == 0) {
        root.prepend_child("Remark").text().set(
            (spectrum.Name() + (times.neverStarted ? " was never started" : " has a real time of 0 s") +
             " and holds no counts: there is no measurement to record.")
                .c_str());
    } else {
        AppendMeasurement(root, spectrum, detectorId);
    }
    OutputFile file(path);  // "-": standard output
    pugi::xml_writer_file writer(file.get());
    document.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
    file.Close();
}

}  // namespace kestrel_tool
