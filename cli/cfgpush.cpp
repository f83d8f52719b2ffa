// A stand-in for the module's cfgpush, enough for the factory restore that
// cfgpull delegates: with -A it stores a factory-default image under the
// settings lock. The real program does far more; nothing here relies on it.
#include "settings/factory.h"
#include "store/exit.h"
#include "store/lock.h"
#include "settings/image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int push_factory_defaults()
{
    env_lock_acquire(nullptr);
    build_factory_defaults();
    nvram_store(nullptr);
    env_lock_release(nullptr);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 || std::strcmp(argv[1], "-A") != 0) {
        std::fputs("usage: cfgpush -A\n\t-A, \tstore factory default settings in nvram\n", stderr);
        return 1;
    }
    try {
        return push_factory_defaults();
    } catch (const ExitRequest &request) {
        env_lock_release(nullptr);
        std::exit(request.status);
    }
}
