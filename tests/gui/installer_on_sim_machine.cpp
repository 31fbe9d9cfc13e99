// The installer as a test build: the same window and start-up, on the
// simulated machine described by the file that TUNDRA_SIM_DESCRIPTION names
// (only this build reads it). Two more variables serve the GUI tests:
// TUNDRA_SIM_LOG names a file where the stick menu's items and the message
// boxes are written down, and TUNDRA_SIM_RUNAS (accepted or declined)
// answers the elevated relaunch without starting anything. The self-update
// is skipped unless TUNDRA_SIM_UPDATES asks for it (update_switches.h).
// Exit code 2 means the description or a variable could not be used.
#include <cstdlib>
#include <string>

#include "app/window/startup.h"
#include "sim/sim_description.h"
#include "ui_log.h"
#include "update_switches.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    static sim::Machine machine;
    const char* path = std::getenv(sim::DESCRIPTION_VARIABLE);
    std::string error;
    if (path != nullptr && !sim::load_description(machine, path, error)) {
        OutputDebugStringA(error.c_str());
        return 2;
    }
    const char* log = std::getenv("TUNDRA_SIM_LOG");
    if (log != nullptr && !gui_test::install_ui_log(log))
        return 2;
    const char* runas = std::getenv("TUNDRA_SIM_RUNAS");
    if (runas != nullptr && !gui_test::install_runas_answer(runas))
        return 2;
    if (!gui_test::install_update_switches(std::getenv("TUNDRA_SIM_UPDATES"),
                                           std::getenv("TUNDRA_SIM_CONNECT_GATE")))
        return 2;
    return app::run_installer();
}
