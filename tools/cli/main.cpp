#include "tools/cli/cli.hpp"
#include "tools/host/platform.hpp"

int main(int argc, char** argv) {
    prepare_standard_streams();
    return run_talvik(command_arguments(argc, argv));
}
