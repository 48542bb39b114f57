// larkspool-bench-gen DIR NAME COUNT SIZE [OUTPUTS]: writes COUNT WAV payloads
// of SIZE bytes as backups, a tar archive and a plain file (see
// bench/payload_set.h).
#include <cstdio>
#include <exception>
#include <string>

#include "bench/payload_set.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s DIR NAME COUNT SIZE [k3,k5,tar,raw]\n", argv[0]);
    return 2;
  }
  try {
    larkspool::bench::WritePayloadSet(argv[1], argv[2], std::stoull(argv[3]), std::stoull(argv[4]),
                                      argc == 6 ? argv[5] : "k3,k5,tar,raw");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "larkspool-bench-gen: %s\n", error.what());
    return 1;
  }
  return 0;
}
