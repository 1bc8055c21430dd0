#include "tools/cli.hpp"
#include "tools/platform.hpp"

int main(int argc, char** argv) {
    prepare_standard_streams();
    return run_talvik(command_arguments(argc, argv));
}
