// The Linux entry shared by the four programs: start the platform, then the main procedure.
#include "driver/mainflow.h"
#include "platform/launch.h"

int main(int argc, char** argv) {
  nsk::start_platform(argc, argv);
  nsk::GETNETLOCADDRESS();
}
