// albumora-cli: the table commands in a program that loads nothing else; every other command
// goes on to albumora-cli-flows (see Cli.h).
#include "Cli.h"

int main(int argc, char** argv) {
    return albumora::cli::Run(argc, argv, nullptr);
}
