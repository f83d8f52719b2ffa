// /etc/urb.conf, /etc/firmwaremgmt.conf and /etc/KAT.info: small key=value
// files for the scheduled reporting, firmware management and self-test services.
#include "store/nvram.h"
#include "writers/compose.h"
#include "writers/writers.h"

using namespace settings;

namespace {

int u8(const std::uint8_t *image, Field f)
{
    return static_cast<int>(get_u(image, f));
}

std::string text_value(const std::uint8_t *image, Field f)
{
    return one_line(get_text(image, f));
}

} // namespace

void compose_urb(const std::uint8_t *image, OutputBuffer &out)
{
    std::string url = text_value(image, F("urbUrl"));
    std::string proxy = text_value(image, F("urbProxyUrl"));
    std::string smtp = text_value(image, F("urbSmtpServer"));
    std::string email = text_value(image, F("urbEmailAddress"));
    out.append("urbEnabled=%d\nurbUrl=%s\nurbProxyUrl=%s\nurbInterval=%d\nurbMinute=%d\n"
               "urbHour=%d\nurbWeekDay=%d\nurbMonthDay=%d\nurbLastAttempt=%lu\n"
               "urbLastStatus=%d\nurbSmtpServer=%s\nurbEmailAddress=%s\n",
               u8(image, F("urbEnabled")), url.c_str(), proxy.c_str(), u8(image, F("urbInterval")),
               u8(image, F("urbMinute")), u8(image, F("urbHour")), u8(image, F("urbWeekDay")),
               u8(image, F("urbMonthDay")),
               static_cast<unsigned long>(get_u(image, F("urbLastAttempt"))),
               u8(image, F("urbLastStatus")), smtp.c_str(), email.c_str());
}

void compose_fw_mgmt(const std::uint8_t *image, OutputBuffer &out)
{
    std::string iso = text_value(image, F("isoUrl"));
    out.append("fwManagementEnabled=%d\nupdatePolicy=%d\nisoUrl=%s\nupdateDate=%ld\n"
               "manualPolicyFrontBays0=0x%X\nmanualPolicyFrontBays1=0x%X\nmanualPolicyIoBays=0x%X\n"
               "manualPolicyMisc=0x%X\ndvdStatus=%d\nserverBaysInProgress0=0x%X\n"
               "serverBaysInProgress1=0x%X\npowerPolicy=%d\nforceDowngrade=%d\nefmLocked=%d\n",
               u8(image, F("fwManagementEnabled")), u8(image, F("updatePolicy")), iso.c_str(),
               static_cast<long>(get_i(image, F("updateDate"))),
               get_u(image, F("manualPolicyFrontBays0")), get_u(image, F("manualPolicyFrontBays1")),
               get_u(image, F("manualPolicyIoBays")), get_u(image, F("manualPolicyMisc")),
               u8(image, F("dvdStatus")), get_u(image, F("serverBaysInProgress0")),
               get_u(image, F("serverBaysInProgress1")), u8(image, F("powerPolicy")),
               u8(image, F("forceDowngrade")), u8(image, F("efmLocked")));
}

void compose_kat_info(const std::uint8_t *image, OutputBuffer &out)
{
    out.append("KAT_error_reboot=%d\nKAT_error_reboot_counter=%d\nKAT_error_reboot_time=%u\n",
               u8(image, F("KAT_error_reboot")), u8(image, F("KAT_error_reboot_counter")),
               get_u(image, F("KAT_error_reboot_time")));
}

void write_urb_settings_to_fs(void)
{
    output_buffer.clear();
    compose_urb(settings_image, output_buffer);
    write_config_file({"/etc/urb.conf", 0664, "Can't create urb file", 1,
                       "Can't write urb data to system file", 1},
                      output_buffer.text());
}

void write_fw_mgmt_settings_to_fs(void)
{
    output_buffer.clear();
    compose_fw_mgmt(settings_image, output_buffer);
    write_config_file({"/etc/firmwaremgmt.conf", 0664, "Can't create firmware management file", 1,
                       "Error writing to firmware management conf file", 1},
                      output_buffer.text());
}

void write_kat_info_to_fs(void)
{
    output_buffer.clear();
    compose_kat_info(settings_image, output_buffer);
    write_config_file({"/etc/KAT.info", 0664, "Can't create KAT info file", 1,
                       "Error writing to KAT info file", 1},
                      output_buffer.text());
}
