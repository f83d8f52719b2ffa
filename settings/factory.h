// Factory defaults and the factory restore of an unusable settings image.
#pragma once

// Replaces the settings image: in process for -a, through cfgpush otherwise.
// Returns with a usable image, or never (the module reboots).
void factory_restore(int option, int *env_lock_fd);

// Overwrites the whole settings image with factory defaults; does not store.
void build_factory_defaults(void);
