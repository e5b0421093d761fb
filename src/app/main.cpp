#include <span>

#include "app/start_up.h"

int main(int argc, char** argv) {
  return tandrel::RunTandrel(std::span<const char* const>(argv, static_cast<size_t>(argc)),
                             tandrel::Console{});
}
