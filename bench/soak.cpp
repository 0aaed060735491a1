// The long soak: the soak's drive (tests/backend/Soak.h) for a time given on the command line, printing
// commands run, faults injected, reconnects, failures and the resident memory at start, after warm-up and
// at the end. It judges nothing: the suite's soak-short does.
//
//   bench-soak SECONDS [--seed N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "Soak.h"

int main(int argc, char **argv) {
    const int child = soak::RunChildIfAsked(argc, argv);
    if (child >= 0) {
        return child;
    }
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--seed") == 0)) {
        std::fprintf(stderr, "usage: %s SECONDS [--seed N]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    if (!(seconds > 0)) {
        std::fprintf(stderr, "SECONDS must be positive\n");
        return 2;
    }
    const unsigned seed = argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                                    : static_cast<unsigned>(std::random_device{}());
    soak::Run(argv[0], seconds, seed);
    return 0;
}
