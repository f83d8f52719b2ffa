// One simulated module shared by a whole in-process test program.
#pragma once

#include "e2e/sim_module.h"

#include <cstdlib>
#include <filesystem>

inline SimModule &sim_root()
{
    static SimModule module;
    static const bool exported = ::setenv("CFGPULL_SIM_ROOT", module.root().c_str(), 1) == 0;
    (void)exported;
    return module;
}

// Forgets what earlier tests left in the logs.
inline void clear_sim_logs()
{
    std::error_code ec;
    for (const char *p : {"/sim/calls.log", "/ramdisk/ubootmsg.log"})
        std::filesystem::remove(sim_root().at(p), ec);
}
