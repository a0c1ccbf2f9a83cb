// The supervisor's main function: runs the server from its start-up to the end of its
// shutdown, which begins when `shutdown` is set. Its start and end are reported through the
// notify functions of supervisor/entry/entry.h; its result is not the exit status.
#pragma once

#include "io/signal.h"

int supervisorMain(int argc, char** argv, io::Signal& shutdown);
