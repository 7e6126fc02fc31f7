// tool_options.cpp - see roadbench/tool_options.h.
#include "roadbench/tool_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace roadbench {

void ToolOptions::text(const std::string& name, std::string* out) { options_.push_back({name, Kind::Text, out}); }
void ToolOptions::number(const std::string& name, double* out) { options_.push_back({name, Kind::Number, out}); }
void ToolOptions::integer(const std::string& name, int* out) { options_.push_back({name, Kind::Integer, out}); }
void ToolOptions::flag(const std::string& name, bool* out) { options_.push_back({name, Kind::Flag, out}); }
void ToolOptions::list(const std::string& name, std::vector<std::string>* out)
{
    options_.push_back({name, Kind::List, out});
}

bool ToolOptions::parse(int argc, char** argv, std::string* error) const
{
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        const Option* option = nullptr;
        for (const Option& o : options_) {
            if (o.name == name) option = &o;
        }
        if (option == nullptr) {
            *error = "unknown option " + name;
            return false;
        }
        if (i + 1 >= argc) {
            *error = "no value for " + name;
            return false;
        }
        const std::string value = argv[i + 1];
        char* end = nullptr;
        errno = 0;
        switch (option->kind) {
        case Kind::Text:
            *static_cast<std::string*>(option->out) = value;
            break;
        case Kind::List:
            static_cast<std::vector<std::string>*>(option->out)->push_back(value);
            break;
        case Kind::Flag:
            *static_cast<bool*>(option->out) = value == "1";
            break;
        case Kind::Number: {
            const double v = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(v)) {
                *error = name + ": not a number: " + value;
                return false;
            }
            *static_cast<double*>(option->out) = v;
            break;
        }
        case Kind::Integer: {
            const long v = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || v < -2147483647L || v > 2147483647L) {
                *error = name + ": not a whole number: " + value;
                return false;
            }
            *static_cast<int*>(option->out) = static_cast<int>(v);
            break;
        }
        }
    }
    return true;
}

}  // namespace roadbench
