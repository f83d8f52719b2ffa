#include "settings/factory.h"

#include "store/exit.h"
#include "store/lock.h"

#include <cstdio>

// Placeholder until the factory defaults land: refuse rather than guess.
void factory_restore(int option, int *slot)
{
    (void)option;
    std::fputs("Factory restore unavailable\n", stderr);
    env_lock_release(slot);
    end_run(1);
}

void build_factory_defaults(void) {}
