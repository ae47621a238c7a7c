// The command line of the tessarvander program, declared with CLI11: each
// command declares its options once, and the same declarations parse the
// arguments, check ranges and choices, and write the help. Parameter names
// are checked later, against the plugin that is loaded.
#pragma once

#include <CLI/CLI.hpp>

#include "sys/Numbers.h"

#include <string>
#include <vector>

namespace tool {

// Help in the form "usage: tessarvander COMMAND [OPTIONS]", then what the
// command does, its options and its examples.
std::shared_ptr<CLI::Formatter> HelpFormatter();

// Checks that a number lies within [minimum, maximum]: "--fps: -3 is outside
// 0.001 to 1000".
CLI::Validator Within(double minimum, double maximum);

// Checks that a text is one of the choices: "--gl: \"vulkan\" is not egl or
// glx".
CLI::Validator OneOf(const std::vector<std::string>& choices);

// Declares an option that takes a FrameSize.
CLI::Option* AddSizeOption(CLI::App& app, const std::string& name, FrameSize& size, const std::string& description);

}  // namespace tool
