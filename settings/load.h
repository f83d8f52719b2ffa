// The load decision: a device image corrected, checked, and then used,
// downgraded, migrated or replaced by factory defaults. store/ moves the
// bytes; this is the one place that decides what becomes of them.
#pragma once

// Set by -s: older images are migrated, unkeepable ones replaced.
extern int preserve_format;

// Loads /dev/env into settings_image for the writers of `option`; returns
// with a usable image or ends the run.
void nvram_load(int option, int *env_lock_fd);
