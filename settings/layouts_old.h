// Older layouts of the settings record that the migration still reads: the
// version-19 record (versions 18 and 19) and the version-20 layout (versions
// 20 to 26). Field names follow the current layout; only the places differ.
#pragma once

#include "settings/layout.h"

namespace settings {

// The version-19 record is longer than the image; its tail reads as zero.
inline constexpr std::size_t kRecord19Size = 16031;

// Version-19 layout. Spans that no field names (2960-3876, 6130-14179, ...)
// hold nothing that survives the step to 20.
inline constexpr auto kLayout19 = with_head({
    {"userRecords", 241, 80, 31, T::Record},
    {"presetHashes", 2721, 15, 8, T::Text},
    {"rocommunity", 2841, 21, 1, T::Text},
    {"rwcommunity", 2862, 21, 1, T::Text},
    {"trapReceivers", 2883, 4, 8, T::Ipv4},
    {"syslocation", 2915, 21, 1, T::Text},
    {"syscontact", 2936, 21, 1, T::Text},
    {"reservedFlag2", 2957, 1, 1, T::U8},
    {"ssoTrustMode", 2958, 1, 1, T::U8},
    {"xmlReplyFlag", 2959, 1, 1, T::U8},
    {"ntpPoll", 3877, 2, 1, T::I16},
    {"ntpServer1", 3879, 4, 1, T::Ipv4},
    {"ntpServer2", 3883, 4, 1, T::Ipv4},
    {"ipAllow", 3887, 5, 5, T::Bytes},  // IPv4 address and prefix length
    {"ntpFlag", 3912, 1, 1, T::U8},
    {"ipFlag", 3913, 1, 1, T::U8},
    {"emailFlag", 3914, 1, 1, T::U8},
    {"emailServer", 3915, 4, 1, T::Ipv4},
    {"emailRecv", 3919, 65, 1, T::Text},
    {"emailDomain", 3984, 65, 1, T::Text},
    {"powerUpFlag", 4049, 1, 1, T::U8},
    {"pwrRedundancyConfig", 4050, 1, 1, T::U8},
    {"pwrMode", 4051, 1, 1, T::U8},
    {"pwrCeiling", 4052, 4, 1, T::I32},
    {"lcdPin", 4056, 7, 1, T::Text},
    {"enable", 4063, 1, 1, T::U8},
    {"enableLocalUsers", 4064, 1, 1, T::U8},
    {"ntNameMapping", 4065, 1, 1, T::U8},
    {"directoryServerIPAddress", 4066, 65, 1, T::Text},
    {"directoryServerSSLPort", 4131, 4, 1, T::I32},
    {"searchContext1", 4135, 128, 1, T::Text},
    {"searchContext2", 4263, 128, 1, T::Text},
    {"searchContext3", 4391, 128, 1, T::Text},
    {"ldapGroupCount", 4519, 1, 1, T::U8},
    {"ldapGroupRecords", 4520, 322, 5, T::Record},
    // Cleared by the step to 19; dropped by the step to 20.
    {"clearedAt19Signatures1", 7640, 64, 1, T::Bytes},
    {"clearedAt19MlnInfo", 7704, 1137, 1, T::Bytes},
    {"clearedAt19Signatures2", 9227, 128, 1, T::Bytes},
    // Beyond the image: always zero when read from it.
    {"lcdUserNotes", 14180, 222, 1, T::Text},
    {"lcdButtonLock", 14402, 1, 1, T::U8},
    {"pduPartNumber", 14502, 16, 1, T::Text},
    {"certsMD5", 14518, 33, 1, T::Bytes},
    {"bladeSignatures1", 14551, 4, 16, T::U32},
    {"mlnInfo", 14615, 1137, 1, T::Bytes},
});

// Version-19 user record: 31 records of 80 bytes at userRecords.
inline constexpr Field kUserRecord19[] = {
    {"userName", 0, 14, 1, T::Text},
    {"userGecos", 14, 44, 1, T::Text},
    {"userPasswordHash", 58, 15, 1, T::Text},
    {"userId", 73, 2, 1, T::U16},
    {"userPrivilege", 75, 1, 1, T::U8},
    {"userBayMask1", 76, 4, 1, T::U32},
};

// Version-20 layout, shared by versions 20 to 26. Its user and group
// records are those of the current layout. The used part ends at 8901.
inline constexpr auto kLayout20 = with_head({
    {"userRecords", 241, 122, 31, T::Record},
    {"presetHashes", 4023, 30, 8, T::Text},
    {"rocommunity", 4263, 21, 1, T::Text},
    {"rwcommunity", 4284, 21, 1, T::Text},
    {"trapReceivers", 4305, 4, 8, T::Ipv4},
    {"syslocation", 4337, 21, 1, T::Text},
    {"syscontact", 4358, 21, 1, T::Text},
    {"reservedFlag2", 4379, 1, 1, T::U8},
    {"ssoTrustMode", 4380, 1, 1, T::U8},
    {"xmlReplyFlag", 4381, 1, 1, T::U8},
    {"ntpPoll", 4382, 4, 1, T::I32},
    {"ntpServer1", 4386, 4, 1, T::Ipv4},
    {"ntpServer2", 4390, 4, 1, T::Ipv4},
    {"ipAllow", 4394, 5, 5, T::Bytes},  // IPv4 address and prefix length
    {"ntpFlag", 4419, 1, 1, T::U8},
    {"ipFlag", 4420, 1, 1, T::U8},
    {"emailFlag", 4421, 1, 1, T::U8},
    {"emailServer", 4422, 4, 1, T::Ipv4},
    {"emailRecv", 4426, 65, 1, T::Text},
    {"emailDomain", 4491, 65, 1, T::Text},
    {"powerUpFlag", 4556, 1, 1, T::U8},
    {"pwrRedundancyConfig", 4557, 1, 1, T::U8},
    {"pwrMode", 4558, 1, 1, T::U8},
    {"pwrCeiling", 4559, 4, 1, T::I32},
    {"lcdPin", 4563, 7, 1, T::Text},
    {"enable", 4570, 1, 1, T::U8},
    {"enableLocalUsers", 4571, 1, 1, T::U8},
    {"ntNameMapping", 4572, 1, 1, T::U8},
    {"directoryServerIPAddress", 4573, 65, 1, T::Text},
    {"directoryServerSSLPort", 4638, 4, 1, T::I32},
    {"searchContext1", 4642, 128, 1, T::Text},
    {"searchContext2", 4770, 128, 1, T::Text},
    {"searchContext3", 4898, 128, 1, T::Text},
    {"ldapGroupCount", 5026, 1, 1, T::U8},
    {"ldapGroupRecords", 5027, 322, 5, T::Record},
    {"lcdUserNotes", 6637, 222, 1, T::Text},
    {"lcdButtonLock", 6859, 1, 1, T::U8},
    {"pduPartNumber", 6860, 16, 1, T::Text},
    {"certsMD5", 6876, 33, 1, T::Bytes},
    {"bladeSignatures1", 6909, 4, 16, T::U32},
    {"mlnInfo", 6973, 1137, 1, T::Bytes},
    {"configMD5", 8110, 33, 1, T::Text},
    {"twofactor", 8143, 1, 1, T::U8},
    {"crl", 8144, 1, 1, T::U8},
    {"subjectAltName", 8145, 1, 1, T::U8},
    {"trapCommunities", 8146, 21, 8, T::Text},
    {"chassisSerialNumber", 8314, 21, 1, T::Text},
    {"chassisPartNumber", 8335, 16, 1, T::Text},
    {"usbMode", 8351, 1, 1, T::U8},
    {"userBayMask2", 8352, 4, 31, T::U32},
    {"ldapGroupBayMask2", 8476, 4, 5, T::U32},
    {"bladeSignatures2", 8496, 4, 32, T::U32},
    {"llfFlag", 8624, 1, 1, T::U8},
    {"llfInterval", 8625, 4, 1, T::I32},
    {"nicForcedFlag", 8629, 1, 1, T::U8},
    {"nicSpeed", 8630, 2, 1, T::I16},
    {"nicDuplex", 8632, 1, 1, T::U8},
    {"strictPasswordsEnabled", 8633, 1, 1, T::U8},
    {"minPasswordLength", 8634, 1, 1, T::U8},
    {"syslogServerAddress", 8635, 65, 1, T::Text},
    {"syslogServerPort", 8700, 4, 1, T::I32},
    {"remoteLogEnabled", 8704, 1, 1, T::U8},
    {"ipswapFlag", 8705, 1, 1, T::U8},
    {"ipswapConfiguredRole", 8706, 1, 1, T::U8},
    {"ipswapMidplaneSerialNo", 8707, 24, 1, T::Text},
    {"ipswapZelmarBuddySerialNo", 8731, 24, 1, T::Text},
    {"powerdelayStatus", 8755, 1, 1, T::U8},
    {"interconnectDelays", 8756, 2, 8, T::I16},
    {"serverDelays", 8772, 2, 48, T::I16},
    {"sessionTimeout", 8868, 4, 1, T::I32},
    {"groupCapBays", 8872, 4, 1, T::I32},
    {"groupCap", 8876, 4, 1, T::I32},
    {"guiLoginDetailFlag", 8880, 1, 1, T::U8},
    {"groupInterval", 8881, 4, 1, T::I32},
    {"groupKi", 8885, 4, 1, T::I32},
    {"groupMaxKi", 8889, 4, 1, T::I32},
    {"groupKp", 8893, 4, 1, T::I32},
    {"groupKd", 8897, 4, 1, T::I32},
});

consteval Field V19(std::string_view name) { return field_in(kLayout19, name); }
consteval Field User19(std::string_view name) { return field_in(kUserRecord19, name); }
consteval Field V20(std::string_view name) { return field_in(kLayout20, name); }

// Tables are sorted, do not overlap and stay inside their record.
consteval bool well_formed(std::span<const Field> table, std::size_t record_size)
{
    std::size_t end = 0;
    for (const Field &f : table) {
        if (f.offset < end || f.end() > record_size)
            return false;
        end = f.end();
    }
    return true;
}
static_assert(well_formed(kLayout19, kRecord19Size));
static_assert(well_formed(kUserRecord19, V19("userRecords").size));
static_assert(well_formed(kLayout20, kImageSize));
static_assert(V19("userRecords").end() == V19("presetHashes").offset);
static_assert(V20("groupKd").end() == 8901);

} // namespace settings
