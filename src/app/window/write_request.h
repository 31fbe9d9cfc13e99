// The action button (id 104): the elevated relaunch, or the confirmed write.
#pragma once

namespace app {

void request_write();

}  // namespace app
