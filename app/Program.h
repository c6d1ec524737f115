#pragma once

namespace app {

// The program, once the application object exists: the wizard over the user's settings store
// and the desktop, from its start-up until the user ends it. Returns the exit code for main to
// return.
//
// When database work cancelled at the end still waits in the driver (the server stopped
// answering, and the login's or the query's time-out is still far), the process does not wait
// for it: once what the program writes itself is on the disk, the process ends here, without
// destroying the wizard, whose destruction would wait for that work.
int runProgram();

} // namespace app
