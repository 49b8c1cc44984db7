// quorvel: desk tool for the arm task supervisor (see quorvel --help).
#include "dispatch.hpp"

int main(int argc, char ** argv) { return static_cast<int>(quorvel_tools::run_cli(argc, argv)); }
