// The installer as a test build: the same window and start-up, on the
// simulated machine described by the file that TUNDRA_SIM_DESCRIPTION names
// (only this build reads it). Exit code 2 means the description could not
// be read.
#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "sim/sim_description.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    static sim::Machine machine;
    const char* path = std::getenv(sim::DESCRIPTION_VARIABLE);
    std::string error;
    if (path != nullptr && !sim::load_description(machine, path, error)) {
        OutputDebugStringA(error.c_str());
        return 2;
    }
    return app::run_installer();
}
