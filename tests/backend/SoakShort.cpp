// The suite's soak: the soak's drive for a short time; fails when anything failed.
//
//   backend-soak-short SECONDS
#include <cstdio>
#include <cstdlib>
#include <random>

#include "Soak.h"

int main(int argc, char **argv) {
    const int child = soak::RunChildIfAsked(argc, argv);
    if (child >= 0) {
        return child;
    }
    const double seconds = argc == 2 ? std::atof(argv[1]) : 0.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: %s SECONDS\n", argv[0]);
        return 2;
    }
    // A new seed each run widens what the suite covers over time; a failure prints the seed to repeat it with.
    const soak::Result result = soak::Run(argv[0], seconds, std::random_device{}());
    return result.failures() == 0 ? 0 : 1;
}
