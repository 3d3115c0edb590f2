// Commands for the simulator, from a script file or stdin: one per line,
// words separated by blanks, "#" to the end of the line is a comment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qsim {

struct Command {
    std::string verb;
    std::vector<std::string> words;   // after the verb
    std::string rest;                 // a text argument: the line after the words before it
    int32_t integer(size_t i) const;  // words[i] as a number (checked by parseCommand)
};

// The command of a line; nothing for blank and comment lines.  Throws
// std::invalid_argument for an unknown verb or wrong arguments.
std::optional<Command> parseCommand(const std::string &line);

}  // namespace qsim
