// tool_options.h - the "--name value" command lines of the road tools (roadbench, roadflood):
// each option names where its value goes; parse() fills them in order, a repeated list option
// adding one value each time. Plain code, one thread.
#pragma once

#include <string>
#include <vector>

namespace roadbench {

class ToolOptions {
public:
    void text(const std::string& name, std::string* out);
    void number(const std::string& name, double* out);
    void integer(const std::string& name, int* out);
    void list(const std::string& name, std::vector<std::string>* out);
    // A switch given as "--name 1" (any other value: off).
    void flag(const std::string& name, bool* out);

    // Takes argv[1..argc-1] as pairs; false with *error for an unknown option, a name without a
    // value or a number that is not one.
    bool parse(int argc, char** argv, std::string* error) const;

private:
    enum class Kind { Text, Number, Integer, List, Flag };
    struct Option {
        std::string name;
        Kind kind;
        void* out;
    };
    std::vector<Option> options_;
};

}  // namespace roadbench
