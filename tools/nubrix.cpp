// nubrix: solves a DIMACS problem and answers as SAT tools do; see cli.hpp.
#include <cstdio>
#include <iostream>

#include "cli.hpp"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);  // std::cin is read in large blocks; output goes through stdio
  return nubrix::cli::run(argc, argv, std::cin, stdout, stderr);
}
