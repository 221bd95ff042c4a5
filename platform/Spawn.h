#pragma once
// Starting a program that runs on its own (a viewer for a written file): nothing to wait for, nothing left
// to reap.
#include <string>
#include <vector>

namespace korvane {

// Starts argv[0] (looked up in PATH) with the arguments, as a grandchild that init adopts at once, so no
// zombie is left behind however long it runs. False when it could not even be forked.
bool SpawnDetached(const std::vector<std::string>& argv);

} // namespace korvane
