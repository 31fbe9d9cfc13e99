#include "sim/sim_description.h"

#include <fstream>
#include <sstream>

namespace sim {
namespace {

// False with `why` left empty for a line that is not understood, or set when
// the line is understood but cannot be carried out.
bool apply_line(Machine& machine, const std::string& line, std::string& why) {
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
        std::string file;
        if (words >> file) {
            std::string extra;
            if (words >> extra)
                return false;
            if (machine.keep_in_file(machine.add_stick(spec), file, why))
                return true;
            machine.remove_drive(spec.number);
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
        std::string why;
        if (!apply_line(machine, line, why)) {
            error = "line " + std::to_string(number) + " not understood: " + line;
            if (!why.empty())
                error += " (" + why + ")";
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
