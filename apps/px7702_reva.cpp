// Program B, PX7702_RevA.
#include "apps/run.h"

int main(int argc, char** argv) { return apps::run(commands::kDescriptorB, argc, argv); }
