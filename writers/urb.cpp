// /etc/urb.conf, /etc/firmwaremgmt.conf and /etc/KAT.info: small key=value
// files for the scheduled reporting, firmware management and self-test services.
#include "settings/image.h"
#include "writers/compose.h"
#include "writers/outputs.h"
#include "writers/values.h"
#include "writers/writers.h"

using namespace settings;

void compose_urb(const std::uint8_t *image, OutputBuffer &out)
{
    std::string url = writers::value(image, F("urbUrl"));
    std::string proxy = writers::value(image, F("urbProxyUrl"));
    std::string smtp = writers::value(image, F("urbSmtpServer"));
    std::string email = writers::value(image, F("urbEmailAddress"));
    out.append("urbEnabled=%d\nurbUrl=%s\nurbProxyUrl=%s\nurbInterval=%d\nurbMinute=%d\n"
               "urbHour=%d\nurbWeekDay=%d\nurbMonthDay=%d\nurbLastAttempt=%lu\n"
               "urbLastStatus=%d\nurbSmtpServer=%s\nurbEmailAddress=%s\n",
               writers::number(image, F("urbEnabled")), url.c_str(), proxy.c_str(), writers::number(image, F("urbInterval")),
               writers::number(image, F("urbMinute")), writers::number(image, F("urbHour")), writers::number(image, F("urbWeekDay")),
               writers::number(image, F("urbMonthDay")),
               static_cast<unsigned long>(get_u(image, F("urbLastAttempt"))),
               writers::number(image, F("urbLastStatus")), smtp.c_str(), email.c_str());
}

void compose_fw_mgmt(const std::uint8_t *image, OutputBuffer &out)
{
    std::string iso = writers::value(image, F("isoUrl"));
    out.append("fwManagementEnabled=%d\nupdatePolicy=%d\nisoUrl=%s\nupdateDate=%ld\n"
               "manualPolicyFrontBays0=0x%X\nmanualPolicyFrontBays1=0x%X\nmanualPolicyIoBays=0x%X\n"
               "manualPolicyMisc=0x%X\ndvdStatus=%d\nserverBaysInProgress0=0x%X\n"
               "serverBaysInProgress1=0x%X\npowerPolicy=%d\nforceDowngrade=%d\nefmLocked=%d\n",
               writers::number(image, F("fwManagementEnabled")), writers::number(image, F("updatePolicy")), iso.c_str(),
               static_cast<long>(get_i(image, F("updateDate"))),
               get_u(image, F("manualPolicyFrontBays0")), get_u(image, F("manualPolicyFrontBays1")),
               get_u(image, F("manualPolicyIoBays")), get_u(image, F("manualPolicyMisc")),
               writers::number(image, F("dvdStatus")), get_u(image, F("serverBaysInProgress0")),
               get_u(image, F("serverBaysInProgress1")), writers::number(image, F("powerPolicy")),
               writers::number(image, F("forceDowngrade")), writers::number(image, F("efmLocked")));
}

void compose_kat_info(const std::uint8_t *image, OutputBuffer &out)
{
    out.append("KAT_error_reboot=%d\nKAT_error_reboot_counter=%d\nKAT_error_reboot_time=%u\n",
               writers::number(image, F("KAT_error_reboot")), writers::number(image, F("KAT_error_reboot_counter")),
               get_u(image, F("KAT_error_reboot_time")));
}

void write_urb_settings_to_fs(void)
{
    write_output(Output::Urb);
}

void write_fw_mgmt_settings_to_fs(void)
{
    write_output(Output::FwMgmt);
}

void write_kat_info_to_fs(void)
{
    write_output(Output::KatInfo);
}
