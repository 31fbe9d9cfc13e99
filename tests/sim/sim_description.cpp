#include "sim/sim_description.h"

#include <fstream>
#include <sstream>

namespace sim {
namespace {

bool apply_line(Machine& machine, const std::string& line) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string keyword;
    if (!(words >> keyword))
        return true;  // blank or comment
    if (keyword == "elevated") {
        std::string answer;
        if (!(words >> answer) || (answer != "yes" && answer != "no"))
            return false;
        machine.set_elevated(answer == "yes");
    } else if (keyword == "system-disk") {
        uint32_t number = 0;
        if (!(words >> number))
            return false;
        machine.add_system_disk(number);
    } else if (keyword == "stick") {
        StickSpec spec{0};
        if (!(words >> spec.number >> spec.vendor >> spec.product >> spec.serial >>
              spec.size_bytes)) {
            return false;
        }
        machine.add_stick(spec);
    } else {
        return false;
    }
    std::string extra;
    return !(words >> extra);
}

}  // namespace

bool apply_description(Machine& machine, const std::string& text, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (unsigned number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!apply_line(machine, line)) {
            error = "line " + std::to_string(number) + " not understood: " + line;
            return false;
        }
    }
    return true;
}

bool load_description(Machine& machine, const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return apply_description(machine, text.str(), error);
}

}  // namespace sim
