#include "devhost/server.h"

int main(int argc, char** argv) {
  devhost::ServerOptions options;
  int exit_code = 0;
  if (!devhost::ParseServerOptions(argc, argv, options, exit_code)) {
    return exit_code;
  }
  return devhost::RunServer(options);
}
