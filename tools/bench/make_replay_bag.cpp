// make_replay_bag DIR TASKS: a bag of TASKS made-up tasks of a desk (the replay's benchmark).
#include <cstdlib>
#include <iostream>
#include <string>

#include "replay_fixture.hpp"

int main(int argc, char ** argv)
{
  if (argc != 3 || std::atoi(argv[2]) < 1) {
    std::cerr << "usage: make_replay_bag DIR TASKS" << std::endl;
    return 2;
  }
  try {
    const auto traffic = replay_fixture::desk_traffic(
        static_cast<std::size_t>(std::atoi(argv[2])), 1'765'171'339'000'000'000);
    replay_fixture::write_bag(argv[1], traffic);
    std::cout << "make_replay_bag: " << traffic.size() << " messages in " << argv[1] << std::endl;
  } catch (const std::exception & error) {
    std::cerr << "make_replay_bag: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
