// Process entry: picks the mode from the first argument.
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    std::string const first = argc > 1 ? argv[1] : "";
    if (!first.empty()) {
        std::fprintf(stderr, "Unknown option %s\n", first.c_str());
        return 2;
    }
    return 0;
}
