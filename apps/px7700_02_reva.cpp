// Program A, PX7700_02 RevA.
#include "apps/run.h"

int main(int argc, char** argv) { return apps::run(commands::ProgramKind::A, argc, argv); }
