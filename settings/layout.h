// The settings image: field tables of layout version 40 and typed,
// big-endian accessors over them. The tables are the one description of the
// layout; everything that reads or writes a setting names it here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <array>
#include <span>
#include <string_view>

namespace settings {

inline constexpr std::size_t kImageSize = 10927;   // 49 blocks of 223 bytes
inline constexpr std::uint8_t kCurrentVersion = 40;

enum class FieldType : std::uint8_t { Bytes, Text, U8, U16, I16, U32, I32, Ipv4, Ipv6, Record };

// One field: `count` elements of `size` bytes from `offset`. For a Record
// field each element is one record whose own fields are in a record table.
struct Field {
    const char *name;
    std::uint16_t offset;
    std::uint16_t size;
    std::uint16_t count;
    FieldType type;

    constexpr std::size_t width() const { return std::size_t{size} * count; }
    constexpr std::size_t end() const { return offset + width(); }
    constexpr std::size_t at(unsigned index) const { return offset + std::size_t{size} * index; }
};

// A one-bit setting inside a byte field (bit 0 is the least significant).
struct Bit {
    const char *name;
    Field byte;
    std::uint8_t bit;
};

using T = FieldType;

// The header and first settings sit at the same places in every layout the
// module has used (versions 18 to 40); each layout's table starts with them.
inline constexpr std::array<Field, 25> kLayoutHead = {{
    {"magic", 0, 3, 1, T::Bytes},
    {"version", 3, 1, 1, T::U8},
    {"enclosureName", 4, 33, 1, T::Text},
    {"rackName", 37, 33, 1, T::Text},
    {"productAssetTag", 70, 33, 1, T::Text},
    {"zelmarName", 103, 33, 1, T::Text},
    {"reservedText1", 136, 33, 1, T::Text},
    {"dhcpFlag", 169, 1, 1, T::U8},
    {"dyndnsFlag", 170, 1, 1, T::U8},
    {"ipAddress", 171, 4, 1, T::Ipv4},
    {"netMask", 175, 4, 1, T::Ipv4},
    {"defaultGateway", 179, 4, 1, T::Ipv4},
    {"dns1", 183, 4, 1, T::Ipv4},
    {"dns2", 187, 4, 1, T::Ipv4},
    {"httpFlag", 191, 1, 1, T::U8},
    {"sshFlag", 192, 1, 1, T::U8},
    {"telnetFlag", 193, 1, 1, T::U8},
    {"snmpFlag", 194, 1, 1, T::U8},
    {"keysExist", 195, 1, 1, T::U8},
    {"ebipaSvbFlag", 196, 1, 1, T::U8},
    {"ebipaSwmFlag", 197, 1, 1, T::U8},
    {"wizardCompleteFlag", 198, 1, 1, T::U8},
    {"reservedFlag1", 199, 1, 1, T::U8},
    {"TZ", 200, 40, 1, T::Text},
    {"userCount", 240, 1, 1, T::U8},
    }};

// A layout's table: the shared head followed by its own fields.
template <std::size_t M>
consteval std::array<Field, kLayoutHead.size() + M> with_head(const Field (&fields)[M])
{
    std::array<Field, kLayoutHead.size() + M> table{};
    std::size_t n = 0;
    for (const Field &f : kLayoutHead)
        table[n++] = f;
    for (const Field &f : fields)
        table[n++] = f;
    return table;
}

inline constexpr auto kLayout40 = with_head({
    {"userRecords", 241, 122, 31, T::Record},
    {"userRecordsFips", 241, 163, 21, T::Record},
    {"presetHashes", 4023, 30, 8, T::Text},
    {"rocommunity", 4263, 21, 1, T::Text},
    {"rwcommunity", 4284, 21, 1, T::Text},
    {"trapReceivers", 4305, 65, 8, T::Text},
    {"syslocation", 4825, 21, 1, T::Text},
    {"syscontact", 4846, 21, 1, T::Text},
    {"reservedFlag2", 4867, 1, 1, T::U8},
    {"ssoTrustMode", 4868, 1, 1, T::U8},
    {"xmlReplyFlag", 4869, 1, 1, T::U8},
    {"ntpPoll", 4870, 4, 1, T::I32},
    {"ntpServer1", 4874, 65, 1, T::Text},
    {"ntpServer2", 4939, 65, 1, T::Text},
    {"ipAllow", 5004, 17, 5, T::Bytes},
    {"ntpFlag", 5089, 1, 1, T::U8},
    {"ipFlag", 5090, 1, 1, T::U8},
    {"emailFlag", 5091, 1, 1, T::U8},
    {"emailServer", 5092, 65, 1, T::Text},
    {"emailRecv", 5157, 65, 1, T::Text},
    {"emailDomain", 5222, 65, 1, T::Text},
    {"powerUpFlag", 5287, 1, 1, T::U8},
    {"pwrRedundancyConfig", 5288, 1, 1, T::U8},
    {"pwrMode", 5289, 1, 1, T::U8},
    {"pwrCeiling", 5290, 4, 1, T::I32},
    {"lcdPin", 5294, 7, 1, T::Text},
    {"enable", 5301, 1, 1, T::U8},
    {"enableLocalUsers", 5302, 1, 1, T::U8},
    {"ntNameMapping", 5303, 1, 1, T::U8},
    {"directoryServerIPAddress", 5304, 65, 1, T::Text},
    {"directoryServerSSLPort", 5369, 4, 1, T::I32},
    {"searchContext1", 5373, 128, 1, T::Text},
    {"searchContext2", 5501, 128, 1, T::Text},
    {"searchContext3", 5629, 128, 1, T::Text},
    {"ldapGroupCount", 5757, 1, 1, T::U8},
    {"ldapGroupRecords", 5758, 322, 5, T::Record},
    {"lcdUserNotes", 7368, 222, 1, T::Text},
    {"lcdButtonLock", 7590, 1, 1, T::U8},
    {"pduPartNumber", 7591, 16, 1, T::Text},
    {"certsMD5", 7607, 33, 1, T::Text},
    {"bladeSignatures1", 7640, 4, 16, T::U32},
    {"mlnInfo", 7704, 1137, 1, T::Bytes},
    {"configMD5", 8841, 33, 1, T::Text},
    {"twofactor", 8874, 1, 1, T::U8},
    {"crl", 8875, 1, 1, T::U8},
    {"subjectAltName", 8876, 1, 1, T::U8},
    {"trapCommunities", 8877, 21, 8, T::Text},
    {"chassisSerialNumber", 9045, 21, 1, T::Text},
    {"chassisPartNumber", 9066, 16, 1, T::Text},
    {"usbMode", 9082, 1, 1, T::U8},
    {"userBayMask2", 9083, 4, 31, T::U32},
    {"ldapGroupBayMask2", 9207, 4, 5, T::U32},
    {"bladeSignatures2", 9227, 4, 32, T::U32},
    {"llfFlag", 9355, 1, 1, T::U8},
    {"llfInterval", 9356, 4, 1, T::I32},
    {"nicForcedFlag", 9360, 1, 1, T::U8},
    {"nicSpeed", 9361, 2, 1, T::I16},
    {"nicDuplex", 9363, 1, 1, T::U8},
    {"strictPasswordsEnabled", 9364, 1, 1, T::U8},
    {"minPasswordLength", 9365, 1, 1, T::U8},
    {"syslogServerAddress", 9366, 65, 1, T::Text},
    {"syslogServerPort", 9431, 4, 1, T::I32},
    {"remoteLogEnabled", 9435, 1, 1, T::U8},
    {"ipswapFlag", 9436, 1, 1, T::U8},
    {"ipswapConfiguredRole", 9437, 1, 1, T::U8},
    {"ipswapMidplaneSerialNo", 9438, 24, 1, T::Text},
    {"ipswapZelmarBuddySerialNo", 9462, 24, 1, T::Text},
    {"powerdelayStatus", 9486, 1, 1, T::U8},
    {"interconnectDelays", 9487, 2, 8, T::I16},
    {"serverDelays", 9503, 2, 48, T::I16},
    {"sessionTimeout", 9599, 4, 1, T::I32},
    {"groupCapBays", 9603, 4, 1, T::I32},
    {"groupCap", 9607, 4, 1, T::I32},
    {"guiLoginDetailFlag", 9611, 1, 1, T::U8},
    {"groupInterval", 9612, 4, 1, T::I32},
    {"groupKi", 9616, 4, 1, T::I32},
    {"groupMaxKi", 9620, 4, 1, T::I32},
    {"groupKp", 9624, 4, 1, T::I32},
    {"groupKd", 9628, 4, 1, T::I32},
    {"ipv6Flags", 9632, 1, 1, T::U8},
    {"ipv6StaticAddress", 9633, 17, 3, T::Bytes},
    {"ipv6Dns1", 9684, 17, 1, T::Bytes},
    {"ipv6Dns2", 9701, 17, 1, T::Bytes},
    {"urbEnabled", 9718, 1, 1, T::U8},
    {"urbUrl", 9719, 129, 1, T::Text},
    {"urbProxyUrl", 9848, 129, 1, T::Text},
    {"urbInterval", 9977, 1, 1, T::U8},
    {"urbMinute", 9978, 1, 1, T::U8},
    {"urbHour", 9979, 1, 1, T::U8},
    {"urbWeekDay", 9980, 1, 1, T::U8},
    {"urbMonthDay", 9981, 1, 1, T::U8},
    {"urbLastAttempt", 9982, 4, 1, T::U32},
    {"urbLastStatus", 9986, 1, 1, T::U8},
    {"groupDeratedCircuit", 9987, 4, 1, T::I32},
    {"groupRatedCircuit", 9991, 4, 1, T::I32},
    {"fwManagementEnabled", 9995, 1, 1, T::U8},
    {"updatePolicy", 9996, 1, 1, T::U8},
    {"isoUrl", 9997, 129, 1, T::Text},
    {"updateDate", 10126, 4, 1, T::I32},
    {"manualPolicyFrontBays0", 10130, 4, 1, T::U32},
    {"manualPolicyFrontBays1", 10134, 4, 1, T::U32},
    {"manualPolicyIoBays", 10138, 1, 1, T::U8},
    {"manualPolicyMisc", 10139, 1, 1, T::U8},
    {"dvdStatus", 10140, 1, 1, T::U8},
    {"serverBaysInProgress0", 10141, 4, 1, T::U32},
    {"serverBaysInProgress1", 10145, 4, 1, T::U32},
    {"urbSmtpServer", 10149, 65, 1, T::Text},
    {"urbEmailAddress", 10214, 65, 1, T::Text},
    {"solutionsID", 10279, 8, 1, T::Bytes},
    {"vigilSystem", 10287, 1, 1, T::U8},
    {"powerPolicy", 10288, 1, 1, T::U8},
    {"forceDowngrade", 10289, 1, 1, T::U8},
    {"efmLocked", 10290, 1, 1, T::U8},
    {"baudRate", 10291, 4, 1, T::I32},
    {"bannerEnabled", 10295, 1, 1, T::U8},
    {"KAT_error_reboot", 10296, 1, 1, T::U8},
    {"KAT_error_reboot_counter", 10297, 1, 1, T::U8},
    {"KAT_error_reboot_time", 10298, 4, 1, T::U32},
    {"lcdForceNewPinCode", 10302, 1, 1, T::U8},
    {"senderEmail", 10303, 65, 1, T::Text},
    {"senderName", 10368, 41, 1, T::Text},
    {"featureBits", 10409, 1, 1, T::U8},
    {"directoryServerGCPort", 10410, 4, 1, T::I32},
    {"tcpTimeout", 10414, 2, 1, T::U16},
    {"ipv6StaticDefaultGateway", 10416, 16, 1, T::Ipv6},
    {"ipv6StaticRouteDestination", 10432, 17, 3, T::Bytes},
    {"ipv6StaticRouteGateway", 10483, 16, 3, T::Ipv6},
    {"serviceAccount", 10531, 41, 1, T::Text},
    {"serviceAccountPassword", 10572, 71, 1, T::Text},
    {"serviceAccountFlag", 10643, 1, 1, T::U8},
    {"SSLSessionCacheTimeout", 10644, 4, 1, T::I32},
    {"pad", 10648, 279, 1, T::Bytes},
});

// User record, standard layout: 31 records of 122 bytes at userRecords.
inline constexpr Field kUserRecordStd[] = {
    {"userName", 0, 41, 1, T::Text},
    {"userGecos", 41, 44, 1, T::Text},
    {"userPasswordHash", 85, 30, 1, T::Text},
    {"userId", 115, 2, 1, T::U16},
    {"userPrivilege", 117, 1, 1, T::U8},
    {"userBayMask1", 118, 4, 1, T::U32},
};

// User record, FIPS layout: 21 records of 163 bytes over the same bytes.
inline constexpr Field kUserRecordFips[] = {
    {"userName", 0, 41, 1, T::Text},
    {"userGecos", 41, 44, 1, T::Text},
    {"userPasswordHashFips", 85, 71, 1, T::Text},
    {"userIdFips", 156, 2, 1, T::U16},
    {"userPrivilegeFips", 158, 1, 1, T::U8},
    {"userBayMask1Fips", 159, 4, 1, T::U32},
};

// Directory group record: 5 records of 322 bytes at ldapGroupRecords.
inline constexpr Field kLdapGroupRecord[] = {
    {"ldapGroupName", 0, 256, 1, T::Text},
    {"ldapGroupDescription", 256, 59, 1, T::Text},
    {"ldapGroupId", 315, 2, 1, T::U16},
    {"ldapGroupPrivilege", 317, 1, 1, T::U8},
    {"ldapGroupBayMask1", 318, 4, 1, T::U32},
};

// An IPv6 address with its prefix length (ipv6StaticAddress,
// ipv6StaticRouteDestination, ipv6Dns1/2, ipAllow entries).
inline constexpr Field kIpv6PrefixRecord[] = {
    {"address", 0, 16, 1, T::Ipv6},
    {"prefix", 16, 1, 1, T::U8},
};

// Compile-time lookup: an unknown name is a compile error.
consteval Field field_in(std::span<const Field> table, std::string_view name)
{
    for (const Field &f : table)
        if (name == f.name)
            return f;
    throw "unknown settings field";
}

consteval Field F(std::string_view name) { return field_in(kLayout40, name); }
consteval Field UserStd(std::string_view name) { return field_in(kUserRecordStd, name); }
consteval Field UserFips(std::string_view name) { return field_in(kUserRecordFips, name); }
consteval Field Group(std::string_view name) { return field_in(kLdapGroupRecord, name); }
consteval Field Ipv6Rec(std::string_view name) { return field_in(kIpv6PrefixRecord, name); }

inline constexpr Bit kBits40[] = {
    {"ipv6Enabled", F("ipv6Flags"), 0},
    {"ipv6DhcpEnabled", F("ipv6Flags"), 1},
    {"ipv6RouterAdvEnabled", F("ipv6Flags"), 2},
    {"ipv6RaTrafficEnabled", F("ipv6Flags"), 3},
    {"ocsp", F("featureBits"), 0},
    {"cac", F("featureBits"), 1},
    {"sysNameFlag", F("featureBits"), 2},
    {"fqdnEnabled", F("featureBits"), 3},
    {"autoResetServer", F("featureBits"), 4},
    {"ipv6DyndnsFlag", F("featureBits"), 5},
    {"sshKexDhg1", F("featureBits"), 6},
    {"KivuFederation", F("featureBits"), 7},
};

consteval Bit B(std::string_view name)
{
    for (const Bit &b : kBits40)
        if (name == b.name)
            return b;
    throw "unknown settings bit";
}

// Run-time lookup, for tools that take field names from the user.
const Field *find_field(std::span<const Field> table, std::string_view name);

// The user table as one layout reads it: the record array and its fields.
struct UserLayout {
    Field records;
    Field name, gecos, hash, id, privilege, bayMask1;
};
inline constexpr UserLayout kUsersStd = {
    F("userRecords"), UserStd("userName"), UserStd("userGecos"), UserStd("userPasswordHash"),
    UserStd("userId"), UserStd("userPrivilege"), UserStd("userBayMask1")};
inline constexpr UserLayout kUsersFips = {
    F("userRecordsFips"), UserFips("userName"), UserFips("userGecos"), UserFips("userPasswordHashFips"),
    UserFips("userIdFips"), UserFips("userPrivilegeFips"), UserFips("userBayMask1Fips")};
inline const UserLayout &user_layout(bool fips) { return fips ? kUsersFips : kUsersStd; }

// Accessors. `base` is the image, or a record's first byte for record
// fields; `index` selects an element of an array field. Numbers are
// big-endian and read byte by byte (fields sit at odd offsets).
std::uint32_t get_u(const std::uint8_t *base, Field f, unsigned index = 0);
std::int32_t get_i(const std::uint8_t *base, Field f, unsigned index = 0);
void set_u(std::uint8_t *base, Field f, std::uint32_t value, unsigned index = 0);
void set_i(std::uint8_t *base, Field f, std::int32_t value, unsigned index = 0);

// Text up to the first NUL or the end of the element.
std::string_view get_text(const std::uint8_t *base, Field f, unsigned index = 0);
// Copies at most size-1 characters and zeroes the rest of the element.
void set_text(std::uint8_t *base, Field f, std::string_view text, unsigned index = 0);

std::span<std::uint8_t> bytes(std::uint8_t *base, Field f, unsigned index = 0);
std::span<const std::uint8_t> bytes(const std::uint8_t *base, Field f, unsigned index = 0);

bool get_bit(const std::uint8_t *image, Bit b);
void set_bit(std::uint8_t *image, Bit b, bool on);

inline std::uint8_t *record(std::uint8_t *image, Field table, unsigned index)
{
    return image + table.at(index);
}
inline const std::uint8_t *record(const std::uint8_t *image, Field table, unsigned index)
{
    return image + table.at(index);
}

} // namespace settings
