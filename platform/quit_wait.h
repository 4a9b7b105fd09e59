#pragma once

namespace zivra::platform {

// Routes the quit requests (SIGTERM, SIGINT, SIGHUP) to WaitForQuitRequest. Call it on the main
// thread before any other thread starts, so that every thread inherits the routing.
void PrepareQuitWait();

// Blocks until a quit request arrives.
void WaitForQuitRequest();

}  // namespace zivra::platform
