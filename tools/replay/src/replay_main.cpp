// replay: runs a recorded file of manager messages through one selector and prints its
// records (see replay/replay.h for the file). Usage: replay <file> (or "-" for standard input).
#include <fstream>
#include <iostream>

#include "replay/replay.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: replay <file | ->\n";
        return 2;
    }
    std::ifstream file;
    std::istream* in = &std::cin;
    if (std::string(argv[1]) != "-") {
        file.open(argv[1]);
        if (!file) {
            std::cerr << "replay: cannot read " << argv[1] << "\n";
            return 1;
        }
        in = &file;
    }
    std::string error;
    if (!replay::run(*in, std::cout, error)) {
        std::cerr << "replay: " << error << "\n";
        return 1;
    }
    return 0;
}
