// Fatal conditions travel to main as one exception that carries the exit
// status, so the settings lock is released in exactly one place.
#pragma once

struct ExitRequest {
    int status;
};

// Ends the run with `status` (what exit(status) would give the caller).
[[noreturn]] inline void end_run(int status)
{
    throw ExitRequest{status};
}

// Releases the settings lock and ends the run: the writers' failure path.
[[noreturn]] void cleanup_and_exit(int status);
