// cfgimage's command line: parsing it, and the commands over image files.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cfgimage {

// Exit statuses shared by all commands; `check` adds its own 1 to 4.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUnreadable = 5;  // check: the image could not be read
inline constexpr int kUsage = 64;

struct CommandLine {
    std::string command;
    bool help = false;  // COMMAND --help: its help instead of running it
    bool json = false, secrets = false, force = false, fips = false;
    std::optional<std::string> serial, part, unique_id, password, lcd_pin;
    std::vector<std::string> args;
};

// The parsed line, or a one-line error (then the usage text applies).
std::variant<CommandLine, std::string> parse_command_line(const std::vector<std::string> &argv);

std::string usage_text();

// Runs one command; messages go to standard output and error.
int run(const CommandLine &line);

// main: parses, runs, returns the exit status.
int cfgimage_main(int argc, char **argv);

} // namespace cfgimage
