
#include "tools/tool_run.h"

#include <cctype>
#include <map>
#include <regex>
#include <sstream>


namespace kestrel_tool_test {
namespace {

// The N42.42-2011 schema's rules for the parts of a document kestrel writes: the content model of each
// element (children in order, with their counts; required attributes), then the leaf values' types.
constexpr int kMany = 1 << 30;
struct Child { const char* name; int min, max; };
struct Model { std::vector<Child> children; std::vector<const char*> attributes; };
const std::map<std::string, Model> kModels = {
    {"RadInstrumentData", {{{"Remark", 0, kMany}, {"RadInstrumentDataCreatorName", 0, 1}, {"RadInstrumentInformation", 1, 1},
                            {"RadDetectorInformation", 1, kMany}, {"EnergyCalibration", 0, kMany}, {"RadMeasurement", 0, kMany}}, {}}},
    {"RadInstrumentInformation", {{{"Remark", 0, kMany}, {"RadInstrumentManufacturerName", 1, 1}, {"RadInstrumentModelName", 1, 1},
                                   {"RadInstrumentClassCode", 1, 1}, {"RadInstrumentVersion", 1, kMany}}, {"id"}}},
    {"RadInstrumentVersion", {{{"RadInstrumentComponentName", 1, 1}, {"RadInstrumentComponentVersion", 1, 1}}, {}}},
    {"RadDetectorInformation", {{{"Remark", 0, kMany}, {"RadDetectorName", 0, 1}, {"RadDetectorCategoryCode", 1, 1},
                                 {"RadDetectorKindCode", 1, 1}, {"RadDetectorDescription", 0, 1}}, {"id"}}},
    {"EnergyCalibration", {{{"Remark", 0, kMany}, {"CoefficientValues", 1, 1}}, {"id"}}},
    {"RadMeasurement", {{{"Remark", 0, kMany}, {"MeasurementClassCode", 1, 1}, {"StartDateTime", 0, 1},
                         {"RealTimeDuration", 1, 1}, {"Spectrum", 0, kMany}}, {"id"}}},
    {"Spectrum", {{{"Remark", 0, kMany}, {"LiveTimeDuration", 1, 1}, {"ChannelData", 1, kMany}},
                  {"id", "radDetectorInformationReference", "energyCalibrationReference"}}},
};
// Lists are checked item by item; a duration must also be positive.
const std::regex kDuration(R"(P(\d+D)?T(\d+H)?(\d+M)?(\d+(\.\d+)?S)?)"), kNumber(R"([+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?)");
const std::map<std::string, std::regex> kValues = {
    {"RealTimeDuration", kDuration}, {"LiveTimeDuration", kDuration}, {"CoefficientValues", kNumber}, {"ChannelData", kNumber},
    {"StartDateTime", std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)?)")},
    {"MeasurementClassCode", std::regex("Foreground|Background|Calibration|IntrinsicActivity|NotSpecified")}};

void Check(pugi::xml_node element, std::map<std::string, std::string>* ids, std::vector<std::string>* breaches) {
    std::string name = element.name(), text = element.text().get(), id = element.attribute("id").value();
    auto fail = [&](const std::string& what) { breaches->push_back(name + ": " + what); };
    if (auto value = kValues.find(name); value != kValues.end()) {
        std::vector<std::string> items{text};
        if (name == "ChannelData" || name == "CoefficientValues") {
            std::istringstream words(text);
            items.clear();
            for (std::string word; words >> word;) items.push_back(word);
        }
        for (const std::string& item : items)
            if (!std::regex_match(item, value->second)) fail("'" + item + "' is not a valid value");
        if (items.empty() || (name.find("Duration") != std::string::npos && text.find_first_of("123456789") == std::string::npos))
            fail("'" + text + "' is empty or zero");
    }
    if (element.attribute("id") && (!std::regex_match(id, std::regex("[A-Za-z_][A-Za-z0-9._-]*")) || !ids->emplace(id, name).second))
        fail("id '" + id + "' is not a unique NCName");
    auto model = kModels.find(name);
    if (model == kModels.end()) return;
    for (const char* attribute : model->second.attributes)
        if (!element.attribute(attribute)) fail(std::string("no ") + attribute);
    const std::vector<Child>& children = model->second.children;
    std::size_t k = 0;
    int count = 0;
    auto skipTo = [&](const std::string& child) {  // past the children before `child`, each there often enough
        for (; k < children.size() && children[k].name != child; ++k, count = 0)
            if (count < children[k].min) fail(std::string("no ") + children[k].name);
    };
    for (pugi::xml_node child : element.children()) {
        if (skipTo(child.name()); k == children.size()) return fail(std::string(child.name()) + " unexpected or out of order");
        if (++count > children[k].max) fail(std::string("too many ") + child.name());
        Check(child, ids, breaches);
    }
    skipTo("");
}

}  // namespace

std::vector<std::string> N42Breaches(const pugi::xml_document& document) {
    pugi::xml_node root = document.document_element();
    if (std::string(root.name()) != "RadInstrumentData" ||
        std::string(root.attribute("xmlns").value()) != "http://physics.nist.gov/N42/2011/N42")
        return {"the root is not an N42.42-2011 RadInstrumentData"};
    std::vector<std::string> breaches;
    std::map<std::string, std::string> ids;  // id -> element
    Check(root, &ids, &breaches);
    for (pugi::xml_node spectrum : root.child("RadMeasurement").children("Spectrum"))
        for (std::string target : {"RadDetectorInformation", "EnergyCalibration"}) {
            std::string reference = static_cast<char>(std::tolower(target[0])) + target.substr(1) + "Reference";
            auto found = ids.find(spectrum.attribute(reference.c_str()).value());
            if (found == ids.end() || found->second != target) breaches.push_back("Spectrum: " + reference + " names no " + target);
        }
    return breaches;
}

bool ParseNumbers(const std::string& text, std::vector<std::uint64_t>* numbers) {
    std::istringstream words(text);
    for (std::string word; words >> word; numbers->push_back(std::stoull(word)))
        if (word.find_first_not_of("0123456789") != std::string::npos) return false;
    return true;
}

std::string CsvRows(std::uint64_t first, const std::vector<std::uint64_t>& counts) {
    std::string rows = "channel,counts\n";
    for (std::size_t i = 0; i < counts.size(); ++i) rows += std::to_string(first + i) + "," + std::to_string(counts[i]) + "\n";
    return rows;
}

bool HasPngSignature(const std::string& path) {
    return kestrel_test::ReadText(path).compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) == 0;
}

}  // namespace kestrel_tool_test
