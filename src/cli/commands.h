// Sub-commands of dodedoz-cli register themselves here, one file each, so that adding a
// command never touches main.cpp.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace dz::cli {

// Exit codes of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 2;
inline constexpr int kExitUsage = 64;

// For the options naming an output file: /dev/stdout is standard output, written as "-" is.
inline std::string StandardOutputAsDash(std::string path) {
    if (path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1") return "-";
    return path;
}

// A registrar adds its sub-command to the app. The sub-command's callback stores the exit
// code in `exitCode`; errors go to stderr naming what failed.
using Registrar = std::function<void(CLI::App& app, int& exitCode)>;

// Returns true so that it can initialise a namespace-scope static in the command's file.
bool register_command(Registrar registrar);

}  // namespace dz::cli
