// Settings version migration: older layouts brought to the current one.
#pragma once

// Migrates the settings image in memory one version at a time; stores it when
// it reached the current version.
void nvram_migrate(int *env_lock_fd);
