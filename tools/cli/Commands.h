// The subcommands of the tessarvander program. Each takes the arguments after
// its name and answers the process exit code.
#pragma once

#include <string>
#include <vector>

namespace cli {

int RunInfo(const std::vector<std::string>& arguments);
int RunRender(const std::vector<std::string>& arguments);
int RunSheet(const std::vector<std::string>& arguments);

}  // namespace cli
