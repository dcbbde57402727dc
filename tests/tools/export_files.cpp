#include "tools/export_files.h"

#include <sstream>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {

bool ParseNumbers(const std::string& text, std::vector<std::uint64_t>* numbers) {
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (word.find_first_not_of("0123456789") != std::string::npos) return false;
        numbers->push_back(std::stoull(word));
    }
    return true;
}

CsvSpectrum ParseCsv(const std::string& text) {
    CsvSpectrum csv;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line) && line.rfind("# ", 0) == 0) csv.metadata.push_back(line.substr(2));
    csv.header = line;
    while (std::getline(lines, line)) {
        std::size_t comma = line.find(',');
        std::vector<std::uint64_t> row;
        if (comma == std::string::npos || !ParseNumbers(line.substr(0, comma) + " " + line.substr(comma + 1), &row) ||
            row.size() != 2) {
            csv.problem = "bad row: '" + line + "'";
            return csv;
        }
        csv.channels.push_back(row[0]);
        csv.counts.push_back(row[1]);
    }
    return csv;
}

bool HasPngSignature(const std::string& path) {
    static const std::string kSignature("\x89PNG\r\n\x1a\n", 8);
    return kestrel_test::ReadText(path).compare(0, kSignature.size(), kSignature) == 0;
}

}  // namespace kestrel_tool_test
