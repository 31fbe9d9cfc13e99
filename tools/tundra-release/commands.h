// The release tool's commands. Each takes its arguments after the command
// name, prints what it did to standard output and any error to standard
// error, and returns the process exit code: 0 done, 1 refused or failed.
#pragma once

#include <string>
#include <vector>

namespace tool {

using Args = std::vector<std::string>;

int keygen(const Args& args);
int public_key(const Args& args);
int sign_release(const Args& args);
int sign_update(const Args& args);
int verify_release(const Args& args);
int verify_update(const Args& args);
int publish(const Args& args);
int publish_update(const Args& args);

}  // namespace tool
