#include "writers/wrenconf.h"

#include "bootenv/uboot_env.h"
#include "platform/platform.h"
#include "settings/enc_name.h"
#include "settings/image.h"
#include "settings/layout.h"
#include "writers/text.h"
#include "writers/outputs.h"
#include "writers/values.h"
#include "writers/writers.h"

#include <algorithm>
#include <cstring>
#include <string>

using settings::B;
using settings::F;
using writers::without_quotes;

using writers::number;
using writers::value;

namespace {

// Enclosure names hold at most 32 characters; escaping can double them.
constexpr std::size_t kEscapedNameSize = 2 * kEncNameMax + 1;
constexpr std::uint16_t kMinTcpTimeout = 10;

void append_list(OutputBuffer &out, const char *key, const std::uint8_t *image, settings::Field f)
{
    out.append("%s=", key);
    for (unsigned i = 0; i < f.count; ++i)
        out.append(i + 1 < f.count ? "%d," : "%d\n", settings::get_i(image, f, i));
}

unsigned u(const std::uint8_t *image, settings::Field f)
{
    return settings::get_u(image, f);
}

} // namespace

void compose_wrenconf(const std::uint8_t *image, OutputBuffer &out)
{
    char name[kEscapedNameSize];
    std::string_view stored = settings::get_text(image, F("enclosureName"));
    escape_enc_name_into(writers::one_line(stored.substr(0, std::min(stored.size(), kEncNameMax))), name, sizeof name);
    std::uint16_t tcp_timeout = static_cast<std::uint16_t>(u(image, F("tcpTimeout")));
    if (tcp_timeout < kMinTcpTimeout)
        tcp_timeout = kMinTcpTimeout;
    auto id = settings::bytes(image, F("solutionsID"));

    out.clear();
    out.append("enclosureName=%s\n", name);
    out.append("rackName=%s\n", value(image, F("rackName")).c_str());
    out.append("productAssetTag=%s\n", value(image, F("productAssetTag")).c_str());
    out.append("TZ=%s\n", value(image, F("TZ")).c_str());
    out.append("keysExist=%d\n", number(image, F("keysExist")));
    out.append("lcdPin=%s\n", value(image, F("lcdPin")).c_str());
    out.append("%s=%d\n", "lcdForceNewPinCode", number(image, F("lcdForceNewPinCode")));
    out.append("wizardCompleteFlag=0x%02X\n", u(image, F("wizardCompleteFlag")));
    out.append("powerUpFlag=%d\n", number(image, F("powerUpFlag")));
    out.append("pwrRedundancyConfig=%d\n", number(image, F("pwrRedundancyConfig")));
    out.append("pwrMode=%d\n", number(image, F("pwrMode")));
    out.append("pwrCeiling=%d\n", number(image, F("pwrCeiling")));
    out.append("lcdButtonLock=%d\n", number(image, F("lcdButtonLock")));
    out.append("lcdUserNotes='%s'\n", without_quotes(image, F("lcdUserNotes")).c_str());
    out.append("pduPartNumber=%s\n", value(image, F("pduPartNumber")).c_str());
    out.append("zelmarName=%s\n", value(image, F("zelmarName")).c_str());
    out.append("ssoTrustMode=%d\n", number(image, F("ssoTrustMode")));
    out.append("usbMode=%d\n", number(image, F("usbMode")));
    out.append("groupCap=%d\n", number(image, F("groupCap")));
    out.append("groupCapBays=%d\n", number(image, F("groupCapBays")));
    out.append("groupInterval=%d\n", number(image, F("groupInterval")));
    out.append("groupKi=%d\n", number(image, F("groupKi")));
    out.append("groupMaxKi=%d\n", number(image, F("groupMaxKi")));
    out.append("groupKp=%d\n", number(image, F("groupKp")));
    out.append("groupKd=%d\n", number(image, F("groupKd")));
    out.append("groupDeratedCircuit=%d\n", number(image, F("groupDeratedCircuit")));
    out.append("groupRatedCircuit=%d\n", number(image, F("groupRatedCircuit")));
    out.append("certsMD5=%s\n", value(image, F("certsMD5")).c_str());
    out.append("configMD5=%s\n", value(image, F("configMD5")).c_str());
    out.append("strictPasswordsEnabled=%d\n", number(image, F("strictPasswordsEnabled")));
    out.append("minPasswordLength=%d\n", number(image, F("minPasswordLength")));
    out.append("syslogServerAddress=%s\n", value(image, F("syslogServerAddress")).c_str());
    out.append("syslogServerPort=%i\n", number(image, F("syslogServerPort")));
    out.append("remoteLogEnabled=%d\n", number(image, F("remoteLogEnabled")));
    out.append("powerdelayStatus=%d\n", number(image, F("powerdelayStatus")));
    out.append("sessionTimeout=%d\n", number(image, F("sessionTimeout")));
    out.append("tcpTimeout=%hu\n", tcp_timeout);
    out.append("solutionsID=%02X%02X%02X%02X%02X%02X%02X%02X\n", id[0], id[1], id[2], id[3], id[4], id[5],
               id[6], id[7]);
    out.append("bannerEnabled=%u\n", u(image, F("bannerEnabled")));
    out.append("autoResetServer=%u\n", settings::get_bit(image, B("autoResetServer")) ? 1u : 0u);
    append_list(out, "interconnectDelays", image, F("interconnectDelays"));
    append_list(out, "serverDelays", image, F("serverDelays"));
    out.append("baudRate=%d\n", number(image, F("baudRate")));
    out.append("sysNameFlag=%d\n", settings::get_bit(image, B("sysNameFlag")) ? 1 : 0);
    out.append("SSLSessionCacheTimeout=%d\n", number(image, F("SSLSessionCacheTimeout")));
}

void write_enclosure_settings_to_fs(void)
{
    zelmar_baudrate_info console = {};
    get_zelmar_baudrate_info(&console);
    write_output(Output::Wrenconf);
    std::int32_t stored = settings::get_i(settings_image, F("baudRate"));
    if (console.baudrate != stored) {
        sendKillSignalToGetty();
        save_uboot_baudrate_setting(stored);
    }
}
