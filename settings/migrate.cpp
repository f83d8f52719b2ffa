#include "settings/migrate.h"

// Placeholder until the migration steps land: the image keeps its version,
// so the load's final test replaces it.
void nvram_migrate(int *env_lock_fd)
{
    (void)env_lock_fd;
}
