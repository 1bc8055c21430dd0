#include "tools/cli.hpp"

int main(int argc, char** argv) {
    return run_talvik({argv + 1, argv + argc});
}
