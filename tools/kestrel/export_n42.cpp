#include "kestrel/export_n42.h"

#include <cstdio>
#include <random>
#include <string>

#include <pugixml.hpp>

#include "kestrel/exit_codes.h"
#include "kestrel/output_file.h"
#include "kestrel/time_text.h"

namespace kestrel_tool {
namespace {

constexpr const char* kN42Namespace = "http://physics.nist.gov/N42/2011/N42";

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

// Texts from the units and the host are 8-bit Windows text. XML 1.0 has no
// place for control characters, and the document is UTF-8: controls become
// "?", bytes above 127 the Latin-1 characters they stand for.
std::string XmlText(const std::string& value) {
    std::string text;
    text.reserve(value.size());
    for (unsigned char c : value) {
        if (c >= 0x80) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
            text += '?';
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

void Text(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(XmlText(value).c_str());
}

// ISO 8601 duration in whole seconds, e.g. PT90S.
std::string Duration(std::uint32_t seconds) { return "PT" + std::to_string(seconds) + "S"; }

}  // namespace

void WriteN42(const Spectrum& spectrum, const std::string& path) {
    std::string unit = "MCB " + std::to_string(spectrum.mcb);
    std::string input = unit + " detector " + std::to_string(spectrum.det);

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

    pugi::xml_node detector = root.append_child("RadDetectorInformation");
    detector.append_attribute("id") = "RadDetectorInformation-1";
    Text(detector, "RadDetectorName", input);
    Text(detector, "RadDetectorCategoryCode", "Gamma");
    Text(detector, "RadDetectorKindCode", "Other");
    Text(detector, "RadDetectorDescription",
         spectrum.description + " (identifier " + std::to_string(spectrum.id) + ")");

    pugi::xml_node measurement = root.append_child("RadMeasurement");
    measurement.append_attribute("id") = "RadMeasurement-1";
    Text(measurement, "MeasurementClassCode", "Foreground");
    std::uint32_t began = spectrum.startTime != 0 ? spectrum.startTime : spectrum.readTime;
    Text(measurement, "StartDateTime", UtcTimeText(began));
    Text(measurement, "RealTimeDuration",
         Duration(spectrum.readTime > began ? spectrum.readTime - began : 0));

    pugi::xml_node data = measurement.append_child("Spectrum");
    data.append_attribute("id") = "Spectrum-1";
    data.append_attribute("radDetectorInformationReference") = "RadDetectorInformation-1";
    Text(data, "Remark",
         "channels " + std::to_string(spectrum.start) + " to " +
             std::to_string(spectrum.start + spectrum.words.size() - 1) + " of " + input +
             ", view " + std::to_string(spectrum.view));
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
