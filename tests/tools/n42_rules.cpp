// The N42.42-2011 schema's rules for the parts of a document kestrel
// writes, as tables: the content model of each element (children in
// order, with their counts, and required attributes), the simple types
// of the leaf values, and the id references.
#include <map>
#include <regex>
#include <sstream>

#include "tools/export_files.h"

namespace kestrel_tool_test {
namespace {

constexpr int kMany = 1 << 30;
struct Child { const char* name; int min, max; };
struct Model { std::vector<Child> children; std::vector<const char*> attributes; };

const std::map<std::string, Model> kModels = {
    {"RadInstrumentData", {{{"Remark", 0, kMany}, {"RadInstrumentDataCreatorName", 0, 1},
        {"RadInstrumentInformation", 1, 1}, {"RadDetectorInformation", 1, kMany},
        {"EnergyCalibration", 0, kMany}, {"RadMeasurement", 0, kMany}}, {}}},
    {"RadInstrumentInformation", {{{"Remark", 0, kMany}, {"RadInstrumentManufacturerName", 1, 1},
        {"RadInstrumentModelName", 1, 1}, {"RadInstrumentClassCode", 1, 1},
        {"RadInstrumentVersion", 1, kMany}}, {"id"}}},
    {"RadInstrumentVersion", {{{"RadInstrumentComponentName", 1, 1}, {"RadInstrumentComponentVersion", 1, 1}}, {}}},
    {"RadDetectorInformation", {{{"Remark", 0, kMany}, {"RadDetectorName", 0, 1},
        {"RadDetectorCategoryCode", 1, 1}, {"RadDetectorKindCode", 1, 1}, {"RadDetectorDescription", 0, 1}}, {"id"}}},
    {"EnergyCalibration", {{{"Remark", 0, kMany}, {"CoefficientValues", 1, 1}}, {"id"}}},
    {"RadMeasurement", {{{"Remark", 0, kMany}, {"MeasurementClassCode", 1, 1}, {"StartDateTime", 0, 1},
        {"RealTimeDuration", 1, 1}, {"Spectrum", 0, kMany}}, {"id"}}},
    {"Spectrum", {{{"Remark", 0, kMany}, {"LiveTimeDuration", 1, 1}, {"ChannelData", 1, kMany}},
        {"id", "radDetectorInformationReference", "energyCalibrationReference"}}},
};

const std::string kNumber = R"([+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?)";
// Leaf values; a duration must also be positive (a digit 1 to 9 in it).
const std::map<std::string, std::regex> kValues = {
    {"RealTimeDuration", std::regex(R"(P(\d+D)?T(\d+H)?(\d+M)?(\d+(\.\d+)?S)?)")},
    {"LiveTimeDuration", std::regex(R"(P(\d+D)?T(\d+H)?(\d+M)?(\d+(\.\d+)?S)?)")},
    {"StartDateTime", std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)?)")},
    {"CoefficientValues", std::regex(kNumber)},  // lists: each item
    {"ChannelData", std::regex(kNumber)},
    {"MeasurementClassCode", std::regex("Foreground|Background|Calibration|IntrinsicActivity|NotSpecified")},
    {"RadDetectorCategoryCode", std::regex("Gamma|Neutron|Alpha|Beta|X-ray|Other")},
};
const std::regex kNcName("[A-Za-z_][A-Za-z0-9._-]*");

void Check(pugi::xml_node element, std::map<std::string, std::string>* ids, std::vector<std::string>* breaches) {
    std::string name = element.name();
    auto fail = [&](const std::string& what) { breaches->push_back(name + ": " + what); };
    auto value = kValues.find(name);
    std::string text = element.text().get();
    bool list = name == "ChannelData" || name == "CoefficientValues";
    std::istringstream items(list ? text : "");
    for (std::string item; value != kValues.end() && items >> item;)
        if (!std::regex_match(item, value->second)) fail("'" + item + "' is not a number");
    if (value != kValues.end() && (list ? text.find_first_not_of(" \t\r\n") == std::string::npos
                                        : !std::regex_match(text, value->second) ||
                                              (name.find("Duration") != std::string::npos &&
                                               text.find_first_of("123456789") == std::string::npos)))
        fail("'" + text + "' is not a valid value");
    if (element.attribute("id")) {
        std::string id = element.attribute("id").value();
        if (!std::regex_match(id, kNcName) || !ids->emplace(id, name).second) fail("id '" + id + "' not a unique NCName");
    }
    auto model = kModels.find(name);
    if (model == kModels.end()) return;
    for (const char* attribute : model->second.attributes)
        if (!element.attribute(attribute)) fail(std::string("no ") + attribute);
    const std::vector<Child>& children = model->second.children;
    std::size_t k = 0;
    int count = 0;
    for (pugi::xml_node child : element.children()) {
        if (child.type() != pugi::node_element) continue;
        for (; k < children.size() && children[k].name != std::string(child.name()); ++k, count = 0)
            if (count < children[k].min) fail(std::string("no ") + children[k].name);
        if (k == children.size()) return fail(std::string(child.name()) + " unexpected or out of order");
        if (++count > children[k].max) fail(std::string("more than one ") + child.name());
        Check(child, ids, breaches);
    }
    for (; k < children.size(); ++k, count = 0)
        if (count < children[k].min) fail(std::string("no ") + children[k].name);
}

}  // namespace

std::vector<std::string> N42Breaches(const pugi::xml_document& document) {
    std::vector<std::string> breaches;
    pugi::xml_node root = document.document_element();
    if (std::string(root.name()) != "RadInstrumentData" ||
        std::string(root.attribute("xmlns").value()) != "http://physics.nist.gov/N42/2011/N42")
        return {"the root is not an N42.42-2011 RadInstrumentData"};
    std::map<std::string, std::string> ids;
    Check(root, &ids, &breaches);
    // References name an element of the right kind.
    const std::pair<const char*, const char*> kReferences[] = {
        {"radDetectorInformationReference", "RadDetectorInformation"},
        {"energyCalibrationReference", "EnergyCalibration"}};
    for (pugi::xml_node measurement : root.children("RadMeasurement"))
        for (pugi::xml_node spectrum : measurement.children("Spectrum"))
            for (const auto& reference : kReferences) {
                auto target = ids.find(spectrum.attribute(reference.first).value());
                if (target == ids.end() || target->second != reference.second)
                    breaches.push_back(std::string("Spectrum: ") + reference.first + " names no " + reference.second);
            }
    return breaches;
}

}  // namespace kestrel_tool_test
