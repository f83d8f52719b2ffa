#include "settings/factory.h"

#include "board/board.h"
#include "bootenv/uboot_env.h"
#include "platform/platform.h"
#include "settings/enc_name.h"
#include "settings/image.h"
#include "settings/layout.h"
#include "settings/load.h"
#include "store/lock.h"
#include "store/log.h"
#include "store/record.h"

#include <crypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

using settings::F;

const char *const kPresetHashes[8] = {
    "Zq.oaHCUAygSk", "m4/SfgKDTovyU", "RtSfVePT4AgHM", "0x0Wd4oFCSqPI",
    "Lw6UakbaCg3sE", "e9LQ/NEjScrEk", "HbAp5Ck6Hoj3A", "s2rkRATXK8li2",
};

namespace {

constexpr std::uint32_t kAllBays = 0xFFFFFFFFu;
constexpr int kDefaultBaudRate = kFactoryBaudRate;
constexpr int kLoginAllowedReboot = 838891;

const char kLcdUserNotes[] =
    "Upload up to^six lines of^text information and your^320x240 bitmap using the^Zelmar^web user interface";

std::string module_name(const std::uint8_t id[6])
{
    char text[32];
    std::snprintf(text, sizeof text, "ZELMAR-%2.2X%2.2X%2.2X%2.2X%2.2X%2.2X", id[0], id[1], id[2], id[3], id[4], id[5]);
    return text;
}

// The chassis serial number escaped for the enclosure name; the escaping
// keeps within the field, whole escapes only.
std::string escaped_enclosure_name(const std::string &serial)
{
    char name[F("enclosureName").size] = {};
    std::memcpy(name, serial.data(), serial.size() < 20 ? serial.size() : 20);
    escape_enc_name(name);
    return name;
}

void set_admin_record(std::uint8_t *image, bool fips, const std::string &hash)
{
    const settings::UserLayout &users = settings::user_layout(fips);
    std::uint8_t *admin = settings::record(image, users.records, 0);
    settings::set_text(admin, users.name, "Administrator");
    settings::set_text(admin, users.gecos, "1,System Administrator,");
    settings::set_text(admin, users.hash, hash);
    settings::set_u(admin, users.id, 1);
    settings::set_u(admin, users.privilege, 0);
    settings::set_u(admin, users.bayMask1, kAllBays);
    settings::set_u(image, F("userBayMask2"), kAllBays, 0);
}

FactoryFacts read_facts()
{
    FactoryFacts facts;
    facts.identity_read = read_board_identity() == 0;
    std::span<const unsigned char> id = board_unique_id();
    std::memcpy(facts.unique_id, id.data(), sizeof facts.unique_id);
    facts.fips = FIPSCHECK_fips_mode_configured() != 0;

    char fru[37] = {};
    if (read_fru_strings(fru) == 0) {
        facts.fru_read = true;
        facts.chassis_serial.assign(fru, strnlen(fru, 20));
        facts.chassis_part.assign(fru + 21, strnlen(fru + 21, 15));
    }
    if (facts.identity_read) {
        std::string password = board_default_password();
        facts.admin_hash = factory_admin_hash(password.c_str(), facts.fips);
        em_safe_memset(password.data(), 0, password.size());
    }
    return facts;
}

// Brings the boot loader environment in line with the defaults. Returns
// false when the step stopped early: the defaults set after it
// (compose_boot_dependent_defaults) then stay zero.
bool update_boot_environment(std::uint8_t *image)
{
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kUbootEnvSize]);
    if (!block)
        return false;
    read_uboot_env(block.get());
    settings::set_i(image, F("baudRate"), kDefaultBaudRate);
    update_uboot_baudrate_setting(kDefaultBaudRate, block.get(), kUbootEnvSize);
    if (update_usb_setting(settings::get_u(image, F("usbMode")), block.get()) == -1)
        return false;
    write_uboot_env(block.get());
    return true;
}

// Keeps the device's bytes before a restore replaces them, unless they hold
// nothing (erased or zeroed): they may be the only copy of every setting.
// Whether a copy was kept.
bool keep_replaced_device()
{
    // Once a run: a restore through cfgpush loads again, and what cfgpush
    // left must not take the place of the settings it replaced.
    static bool kept = false;
    if (kept)
        return true;
    std::span<const std::uint8_t> raw(raw_nvram_image);
    if (std::all_of(raw.begin(), raw.end(), [&](std::uint8_t b) { return b == raw[0]; }) &&
        (raw[0] == 0x00 || raw[0] == 0xFF))
        return false;
    if (int err = keep_replaced_image(kEnvDevice, raw)) {
        log_event(LOG_ERR, "NVRAM image not kept in %s: %s\n", kEnvDevice.saved().c_str(), std::strerror(err));
        return false;
    }
    return kept = true;
}

void restore_in_process(int *slot)
{
    bool kept = keep_replaced_device();
    build_factory_defaults();
    nvram_store(slot);
    if (kept)
        log_event(LOG_NOTICE, "Factory Settings Restored. The replaced image is kept in %s.\n", kEnvDevice.saved().c_str());
    else
        log_event(LOG_NOTICE, "Factory Settings Restored.\n");
    if (is_login_allowed() == kLoginAllowedReboot) {
        enc_reboot(10);
    } else {
        struct em_status status {};
        if (get_em_status(get_em_id(), &status) != 0 || status.bytes[6] == 1 || status.bytes[11] != 2)
            enc_reboot(10);
        else
            em_failover();
    }
    platform::sleep(120);
}

} // namespace

std::string factory_admin_hash(const char *password, bool fips)
{
    char salt[25] = {};
    if (fips)
        em_openssl_make_fips_salt(salt, sizeof salt, 2);
    else
        em_openssl_make_salt(salt, sizeof salt, 0);
    const char *hash = crypt(password, salt);
    em_safe_memset(salt, 0, sizeof salt);
    if (hash == nullptr || hash[0] == '*')
        return "x";
    return hash;
}

void compose_factory_defaults(std::uint8_t *image, const FactoryFacts &facts)
{
    using settings::set_text;
    using settings::set_u;
    std::memset(image, 0, settings::kImageSize);
    std::memcpy(image + F("magic").offset, "002", 3);
    set_u(image, F("version"), settings::kCurrentVersion);

    if (facts.fru_read) {
        set_text(image, F("enclosureName"), escaped_enclosure_name(facts.chassis_serial));
        set_text(image, F("chassisSerialNumber"), facts.chassis_serial);
        set_text(image, F("chassisPartNumber"), facts.chassis_part);
    } else {
        set_text(image, F("enclosureName"), module_name(facts.unique_id));
    }
    set_text(image, F("rackName"), "UnnamedRack");
    set_text(image, F("TZ"), "CST6CDT");
    if (facts.identity_read)
        set_text(image, F("zelmarName"), module_name(facts.unique_id));

    for (settings::Field flag : {F("dhcpFlag"), F("dyndnsFlag"), F("httpFlag"), F("sshFlag"),
                                 F("xmlReplyFlag"), F("guiLoginDetailFlag"), F("nicDuplex")})
        set_u(image, flag, 1);
    set_u(image, F("pwrRedundancyConfig"), 2);
    settings::set_i(image, F("llfInterval"), 60);
    settings::set_i(image, F("nicSpeed"), 100);
    for (settings::Bit bit : {settings::B("ipv6Enabled"), settings::B("ipv6DhcpEnabled"),
                              settings::B("ipv6RouterAdvEnabled"), settings::B("ipv6RaTrafficEnabled")})
        settings::set_bit(image, bit, true);
    settings::set_bit(image, settings::B("KivuFederation"), true);
    settings::set_bit(image, settings::B("sshKexDhg1"), !facts.fips);

    set_u(image, F("userCount"), 1);
    set_admin_record(image, facts.fips, facts.admin_hash);
    for (unsigned i = 0; i < 8; ++i)
        set_text(image, F("presetHashes"), kPresetHashes[i], i);

    set_text(image, F("lcdUserNotes"), kLcdUserNotes);
    set_text(image, F("certsMD5"), std::string(32, '0'));
    set_text(image, F("configMD5"), std::string(32, '0'));
    if (!facts.fips)
        set_text(image, F("rocommunity"), "public");
}

void compose_boot_dependent_defaults(std::uint8_t *image, bool fips, const char *lcd_pin)
{
    using settings::set_i;
    using settings::set_u;
    set_u(image, F("minPasswordLength"), fips ? 8 : 3);
    set_u(image, F("strictPasswordsEnabled"), fips);
    set_u(image, F("lcdForceNewPinCode"), fips);
    if (fips) {
        settings::set_text(image, F("lcdPin"), std::string(lcd_pin, strnlen(lcd_pin, 6)));
        set_u(image, F("lcdButtonLock"), 1);
    }
    set_i(image, F("syslogServerPort"), 514);
    set_i(image, F("sessionTimeout"), 1440);
    set_i(image, F("SSLSessionCacheTimeout"), 5);
    set_u(image, F("tcpTimeout"), 10);
    set_u(image, F("urbInterval"), 2);
    set_u(image, F("manualPolicyFrontBays0"), kAllBays);
    set_u(image, F("manualPolicyFrontBays1"), kAllBays);
    set_u(image, F("vigilSystem"), 1);
    settings::set_bit(image, settings::B("autoResetServer"), false);
}

void build_factory_defaults(void)
{
    FactoryFacts facts = read_facts();
    compose_factory_defaults(settings_image, facts);
    if (!update_boot_environment(settings_image))
        return;
    bool fips = FIPSCHECK_fips_mode_configured() != 0;
    char pin[7] = {};
    if (fips)
        get_rand_password(pin, sizeof pin);
    compose_boot_dependent_defaults(settings_image, fips, pin);
    em_safe_memset(pin, 0, sizeof pin);
}

void factory_restore(int option, int *slot)
{
    if (option == 'a') {
        restore_in_process(slot);
        return;
    }
    if (keep_replaced_device())
        log_event(LOG_NOTICE, "Factory restore by cfgpush. The replaced image is kept in %s.\n", kEnvDevice.saved().c_str());
    env_lock_release(slot);
    platform::system("/usr/sbin/cfgpush -A");
    env_lock_acquire(slot);
    nvram_load('a', slot);
}
