// The nubrix program as a function, so that the tests can run it in-process (and fail its heap
// requests one by one); tools/nubrix.cpp is its main.
#ifndef NUBRIX_TOOLS_CLI_HPP
#define NUBRIX_TOOLS_CLI_HPP

#include <cstdio>
#include <iosfwd>

namespace nubrix::cli {

// Runs the program with the command line argv[0] .. argv[argc - 1]: standard input is `in`, the
// answer goes to `out` and messages to `err`. Returns the exit status; raises nothing.
int run(int argc, char** argv, std::istream& in, std::FILE* out, std::FILE* err) noexcept;

}  // namespace nubrix::cli

#endif  // NUBRIX_TOOLS_CLI_HPP
