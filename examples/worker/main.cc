// An example worker built against the installed SDK. The server starts it as its extra
// process (VX_EXTRA_PROCESS=/path/to/vexlan-example-worker): it attaches, reads the server
// configuration, says so on standard error (which the server logs under [extr]) and serves
// until the server tells it to leave.
#include <iostream>

#include "sdk/worker.h"

int main(int, char** argv) {
  try {
    worker::Worker w(worker::Identity::fromProgram(argv[0]));
    control::Server_Configuration_Fields config = w.requestConfiguration();
    std::cerr << "example worker up on " << config.host_name << ", logs in "
              << config.system_log_dir_path << std::endl;
    w.initOk();
    return w.run();
  } catch (const worker::ESupervisorGone& e) {
    std::cerr << e.what() << std::endl;
    return worker::kExitSupervisorGone;
  } catch (const error::Exception& e) {
    std::cerr << e.what() << std::endl;
    return 1;
  }
}
