#include "settings/migrate.h"

#include "platform/platform.h"
#include "settings/migrate_steps.h"
#include "store/log.h"
#include "settings/image.h"

namespace settings {

namespace {

constexpr Field kVersion = F("version");

void run_step(Image image, const MigrationStep &step, StepContext &ctx)
{
    ctx.note("Updating NVRAM version to %d.\n", step.from + 1);
    step.run(image.data(), ctx);
    set_u(image.data(), kVersion, step.from + 1u);
}

} // namespace

bool migrate_one_step(Image image, FipsQuery fips_mode, MigrationLog &log)
{
    StepContext ctx{fips_mode, log};
    unsigned version = get_u(image.data(), kVersion);
    for (const MigrationStep &step : migration_chain()) {
        if (step.from == version) {
            run_step(image, step, ctx);
            return true;
        }
    }
    return false;
}

MigrationLog migrate_image(Image image, FipsQuery fips_mode)
{
    MigrationLog log;
    StepContext ctx{fips_mode, log};
    for (const MigrationStep &step : migration_chain())
        if (get_u(image.data(), kVersion) == step.from)
            run_step(image, step, ctx);
    unsigned version = get_u(image.data(), kVersion);
    if (version != kCurrentVersion)
        ctx.note("NVRAM DEBUG: New version(%d) not same as LE_CURRENT_VERSION(%d)\n", static_cast<int>(version),
                 static_cast<int>(kCurrentVersion));
    return log;
}

} // namespace settings

void nvram_migrate(int *env_lock_fd)
{
    using namespace settings;
    unsigned entry_version = get_u(settings_image, F("version"));
    for (const std::string &line : migrate_image(settings_image, FIPSCHECK_fips_mode_configured))
        log_event(LOG_NOTICE, "%s", line.c_str());
    if (entry_version < kCurrentVersion && get_u(settings_image, F("version")) == kCurrentVersion) {
        nvram_store(env_lock_fd);
        log_event(LOG_NOTICE, "NVRAM update complete.\n");
    }
}
