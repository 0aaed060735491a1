// A stand-in for the external updater: writes the arguments it received, one a line, to the file named by
// FAKE_UPDATER_RECORD and ends with the exit code in FAKE_UPDATER_EXIT (0 when unset).
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (const char *record = std::getenv("FAKE_UPDATER_RECORD")) {
        if (std::FILE *file = std::fopen(record, "w")) {
            for (int i = 1; i < argc; ++i)
                std::fprintf(file, "%s\n", argv[i]);
            std::fclose(file);
        }
    }
    const char *code = std::getenv("FAKE_UPDATER_EXIT");
    return code ? std::atoi(code) : 0;
}
