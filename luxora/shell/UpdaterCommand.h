// The updater's command line, apart from the update step so that a test program without Qt builds it too.
#pragma once

#include <string>
#include <vector>

// argv[0] (the program's file name), then every further value enclosed in double quotes, one space apart.
// The values are quoted, not escaped: a value holding a double quote cannot be told apart on Windows.
std::string UpdaterCommandLine(const std::vector<std::string> &argv);
