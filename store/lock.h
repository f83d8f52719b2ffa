// The settings lock: an exclusive flock on /ramdisk/.env_lock held for a
// whole run, shared with cfgpush. A null slot means the process-wide one.
#pragma once

extern int env_lock_fd;

int env_lock_acquire(int *slot);
int env_lock_release(int *slot);
