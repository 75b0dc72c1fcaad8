// Program A, PX7700_02 RevA.
#include "apps/run.h"

int main(int argc, char** argv) { return apps::run(commands::kDescriptorA, argc, argv); }
