#include "cli/run.h"
#include "store/exit.h"
#include "store/lock.h"

#include <cstdlib>

int main(int argc, char **argv)
{
    try {
        return cfgpull_main(argc, argv);
    } catch (const ExitRequest &request) {
        env_lock_release(nullptr);  // the one place a fatal run lets go of the lock
        std::exit(request.status);
    }
}
