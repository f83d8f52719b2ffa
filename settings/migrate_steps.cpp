// The migration steps. Versions 18 and 19 use the version-19 record, 20 to
// 26 the version-20 layout, 27 onward the current layout; the steps to 20
// and to 27 rebuild the record from a copy through the field maps below,
// every other step edits a few fields in place.
#include "settings/migrate_steps.h"

#include "settings/layouts_old.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace settings {

void StepContext::note(const char *format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    log.emplace_back(text);
}

namespace {

// ---- Field maps --------------------------------------------------------

enum class How : std::uint8_t {
    Text,           // up to n bytes, stopping after the first NUL; rest of n zero
    Copy,           // n bytes unchanged (n = 0: the whole element)
    I16ToI32,       // sign-extended
    IpToText,       // dotted decimal, always
    IpToTextIfSet,  // dotted decimal, only when the first byte is not 0
    AllowEntry,     // IPv4 address and prefix into the tail of a 17-byte entry
};

// One row: every element of `from` goes to the same element of `to`.
struct Move {
    Field from;
    How how;
    Field to;
    std::uint16_t n = 0;
};

constexpr std::size_t kIpv4Size = 4;
constexpr std::size_t kIpTextSize = 65;
// Address-allow entries: 16 address bytes (an IPv4 address in the last
// four) and a prefix length.
constexpr std::size_t kAllowIpv4At = 12;
constexpr std::size_t kOldAllowSize = 5;

consteval bool row_fits(const Move &m)
{
    if (m.from.count != m.to.count)
        return false;
    switch (m.how) {
    case How::Text:
    case How::Copy: {
        std::size_t n = m.n ? m.n : m.from.size;
        return n <= m.from.size && n <= m.to.size;
    }
    case How::I16ToI32:
        return m.from.size == 2 && m.to.size == 4;
    case How::IpToText:
    case How::IpToTextIfSet:
        return m.from.size == kIpv4Size && m.to.size >= kIpTextSize;
    case How::AllowEntry:
        return m.from.size == kOldAllowSize && m.to.size == kAllowIpv4At + kOldAllowSize;
    }
    return false;
}

consteval bool map_fits(std::span<const Move> map)
{
    for (const Move &m : map)
        if (!row_fits(m))
            return false;
    return true;
}

void copy_text(const std::uint8_t *src, std::uint8_t *dst, std::size_t n)
{
    const void *nul = std::memchr(src, 0, n);
    std::size_t len = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - src) : n;
    std::memcpy(dst, src, len);
    std::memset(dst + len, 0, n - len);
}

void ip_to_text(const std::uint8_t *src, std::uint8_t *dst)
{
    char text[kIpTextSize] = {};
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", src[0], src[1], src[2], src[3]);
    copy_text(reinterpret_cast<const std::uint8_t *>(text), dst, kIpTextSize);
}

void move_element(const Move &m, const std::uint8_t *src, std::uint8_t *dst)
{
    switch (m.how) {
    case How::Text:
        copy_text(src, dst, m.n ? m.n : m.from.size);
        break;
    case How::Copy:
        std::memcpy(dst, src, m.n ? m.n : m.from.size);
        break;
    case How::I16ToI32: {
        auto v = static_cast<std::int16_t>((src[0] << 8) | src[1]);
        set_i(dst, Field{"", 0, 4, 1, T::I32}, v);
        break;
    }
    case How::IpToTextIfSet:
        if (src[0] == 0)
            break;
        [[fallthrough]];
    case How::IpToText:
        ip_to_text(src, dst);
        break;
    case How::AllowEntry:
        std::memcpy(dst + kAllowIpv4At, src, kOldAllowSize);
        break;
    }
}

void apply_map(std::span<const Move> map, const std::uint8_t *old_base, std::uint8_t *new_base)
{
    for (const Move &m : map)
        for (unsigned i = 0; i < m.from.count; ++i)
            move_element(m, old_base + m.from.at(i), new_base + m.to.at(i));
}

// Applies a record map to every record of two record arrays.
void apply_records(std::span<const Move> map, const std::uint8_t *old_image, Field old_records,
                   std::uint8_t *image, Field new_records)
{
    for (unsigned k = 0; k < old_records.count; ++k)
        apply_map(map, record(old_image, old_records, k), record(image, new_records, k));
}

// Rows whose field keeps its name.
consteval Move up20(std::string_view name, How how = How::Copy, std::uint16_t n = 0)
{
    return {V19(name), how, V20(name), n};
}
consteval Move up27(std::string_view name, How how = How::Copy, std::uint16_t n = 0)
{
    return {V20(name), how, F(name), n};
}

// Version 19 to 20. Texts keep room for their terminator: the target is
// zeroed, so the byte after the n copied stays 0.
constexpr Move kMap20[] = {
    up20("enclosureName", How::Text, 32),
    up20("rackName", How::Text, 32),
    up20("productAssetTag", How::Text, 32),
    up20("zelmarName", How::Text, 32),
    up20("reservedText1", How::Text, 32),
    up20("dhcpFlag"),
    up20("dyndnsFlag"),
    up20("ipAddress"),
    up20("netMask"),
    up20("defaultGateway"),
    up20("dns1"),
    up20("dns2"),
    up20("httpFlag"),
    up20("sshFlag"),
    up20("telnetFlag"),
    up20("snmpFlag"),
    up20("keysExist"),
    up20("ebipaSvbFlag"),
    up20("ebipaSwmFlag"),
    up20("wizardCompleteFlag"),
    up20("reservedFlag1"),
    up20("TZ", How::Text, 39),
    up20("userCount"),
    up20("presetHashes", How::Text, 14),
    up20("rocommunity", How::Text, 20),
    up20("rwcommunity", How::Text, 20),
    up20("trapReceivers"),
    up20("syslocation", How::Text, 20),
    up20("syscontact", How::Text, 20),
    up20("reservedFlag2"),
    up20("ssoTrustMode"),
    up20("xmlReplyFlag"),
    up20("ntpPoll", How::I16ToI32),
    up20("ntpServer1"),
    up20("ntpServer2"),
    up20("ipAllow", How::Copy, kIpv4Size),  // the prefix length starts at 0
    up20("ntpFlag"),
    up20("ipFlag"),
    up20("emailFlag"),
    up20("emailServer"),
    up20("emailRecv", How::Text, 64),
    up20("emailDomain", How::Text, 64),
    up20("powerUpFlag"),
    up20("pwrRedundancyConfig"),
    up20("pwrMode"),
    up20("pwrCeiling"),
    up20("lcdPin", How::Text, 6),
    up20("enable"),
    up20("enableLocalUsers"),
    up20("ntNameMapping"),
    up20("directoryServerIPAddress", How::Text, 64),
    up20("directoryServerSSLPort"),
    up20("searchContext1", How::Text, 127),
    up20("searchContext2", How::Text, 127),
    up20("searchContext3", How::Text, 127),
    up20("ldapGroupCount"),
    up20("ldapGroupRecords"),
    up20("lcdUserNotes", How::Text, 221),
    up20("lcdButtonLock"),
    up20("pduPartNumber", How::Text, 15),
    up20("certsMD5"),
    up20("bladeSignatures1"),
    up20("mlnInfo"),
};
static_assert(map_fits(kMap20));

constexpr Move kUserMap20[] = {
    {User19("userName"), How::Text, UserStd("userName"), 13},
    {User19("userGecos"), How::Text, UserStd("userGecos"), 43},
    {User19("userPasswordHash"), How::Text, UserStd("userPasswordHash"), 14},
    {User19("userId"), How::Copy, UserStd("userId")},
    {User19("userPrivilege"), How::Copy, UserStd("userPrivilege")},
    {User19("userBayMask1"), How::Copy, UserStd("userBayMask1")},
};
static_assert(map_fits(kUserMap20));

// Version 26 to 27.
constexpr Move kMap27[] = {
    up27("enclosureName", How::Text),
    up27("rackName", How::Text),
    up27("productAssetTag", How::Text),
    up27("zelmarName", How::Text),
    up27("reservedText1", How::Text),
    up27("dhcpFlag"),
    up27("dyndnsFlag"),
    up27("ipAddress"),
    up27("netMask"),
    up27("defaultGateway"),
    up27("dns1"),
    up27("dns2"),
    up27("httpFlag"),
    up27("sshFlag"),
    up27("telnetFlag"),
    up27("snmpFlag"),
    up27("keysExist"),
    up27("ebipaSvbFlag"),
    up27("ebipaSwmFlag"),
    up27("wizardCompleteFlag"),
    up27("reservedFlag1"),
    up27("TZ", How::Text),
    up27("userCount"),
    up27("presetHashes", How::Text, 15),
    up27("rocommunity", How::Text),
    up27("rwcommunity", How::Text),
    up27("trapReceivers", How::IpToTextIfSet),
    up27("syslocation", How::Text),
    up27("syscontact", How::Text),
    up27("reservedFlag2"),
    up27("ssoTrustMode"),
    up27("xmlReplyFlag"),
    up27("ntpPoll"),
    up27("ntpServer1", How::IpToText),
    up27("ntpServer2", How::IpToText),
    up27("ipAllow", How::AllowEntry),
    up27("ntpFlag"),
    up27("ipFlag"),
    up27("emailFlag"),
    up27("emailServer", How::IpToText),
    up27("emailRecv", How::Text),
    up27("emailDomain", How::Text),
    up27("powerUpFlag"),
    up27("pwrRedundancyConfig"),
    up27("pwrMode"),
    up27("pwrCeiling"),
    up27("lcdPin", How::Text),
    up27("enable"),
    up27("enableLocalUsers"),
    up27("ntNameMapping"),
    up27("directoryServerIPAddress", How::Text),
    up27("directoryServerSSLPort"),
    up27("searchContext1", How::Text),
    up27("searchContext2", How::Text),
    up27("searchContext3", How::Text),
    up27("ldapGroupCount"),
    up27("ldapGroupRecords"),
    up27("lcdUserNotes", How::Text),
    up27("lcdButtonLock"),
    up27("pduPartNumber", How::Text),
    up27("certsMD5"),
    up27("bladeSignatures1"),
    up27("mlnInfo"),
    up27("configMD5"),
    up27("twofactor"),
    up27("crl"),
    up27("subjectAltName"),
    up27("trapCommunities", How::Text),
    up27("chassisSerialNumber", How::Text),
    up27("chassisPartNumber", How::Text),
    up27("usbMode"),
    up27("userBayMask2"),
    up27("ldapGroupBayMask2"),
    up27("bladeSignatures2"),
    up27("llfFlag"),
    up27("llfInterval"),
    up27("nicForcedFlag"),
    up27("nicSpeed"),
    up27("nicDuplex"),
    up27("strictPasswordsEnabled"),
    up27("minPasswordLength"),
    up27("syslogServerAddress", How::Text),
    up27("syslogServerPort"),
    up27("remoteLogEnabled"),
    up27("ipswapFlag"),
    up27("ipswapConfiguredRole"),
    up27("ipswapMidplaneSerialNo", How::Text),
    up27("ipswapZelmarBuddySerialNo", How::Text),
    up27("powerdelayStatus"),
    up27("interconnectDelays"),
    up27("serverDelays"),
    up27("sessionTimeout"),
    up27("groupCapBays"),
    up27("groupCap"),
    up27("guiLoginDetailFlag"),
    up27("groupInterval"),
    up27("groupKi"),
    up27("groupMaxKi"),
    up27("groupKp"),
    up27("groupKd"),
};
static_assert(map_fits(kMap27));

// Standard user record to standard user record; also the read phase of
// the FIPS conversion.
constexpr Move kUserMapStd[] = {
    {UserStd("userName"), How::Text, UserStd("userName")},
    {UserStd("userGecos"), How::Text, UserStd("userGecos")},
    {UserStd("userPasswordHash"), How::Text, UserStd("userPasswordHash")},
    {UserStd("userId"), How::Copy, UserStd("userId")},
    {UserStd("userPrivilege"), How::Copy, UserStd("userPrivilege")},
    {UserStd("userBayMask1"), How::Copy, UserStd("userBayMask1")},
};
static_assert(map_fits(kUserMapStd));

// Standard user record into a FIPS slot: the 30-byte hash fills the start
// of the wider hash field.
constexpr Move kUserMapFips[] = {
    {UserStd("userName"), How::Text, UserFips("userName")},
    {UserStd("userGecos"), How::Text, UserFips("userGecos")},
    {UserStd("userPasswordHash"), How::Text, UserFips("userPasswordHashFips"), UserStd("userPasswordHash").size},
    {UserStd("userId"), How::Copy, UserFips("userIdFips")},
    {UserStd("userPrivilege"), How::Copy, UserFips("userPrivilegeFips")},
    {UserStd("userBayMask1"), How::Copy, UserFips("userBayMask1Fips")},
};
static_assert(map_fits(kUserMapFips));

// ---- Small helpers over the image ---------------------------------------

void clear(std::uint8_t *image, Field f)
{
    std::memset(image + f.offset, 0, f.width());
}

struct Value {
    Field field;
    std::int32_t value;
};

// Gives every element of each field its value.
void set_values(std::uint8_t *image, std::initializer_list<Value> values)
{
    for (const Value &v : values)
        for (unsigned i = 0; i < v.field.count; ++i)
            set_i(image, v.field, v.value, i);
}

void set_magic(std::uint8_t *image, const char (&magic)[4])
{
    std::memcpy(image + F("magic").offset, magic, F("magic").size);
}

// Both halves of the second mask repeat the low half of the first.
std::uint32_t doubled_low_half(std::uint32_t mask)
{
    std::uint32_t low = mask & 0xFFFFu;
    return (low << 16) | low;
}

void derive_second_bay_masks(std::uint8_t *image)
{
    constexpr Field kUsers = V20("userRecords");
    constexpr Field kGroups = V20("ldapGroupRecords");
    for (unsigned k = 0; k < kUsers.count; ++k) {
        std::uint32_t mask1 = get_u(record(image, kUsers, k), UserStd("userBayMask1"));
        set_u(image, V20("userBayMask2"), doubled_low_half(mask1), k);
    }
    for (unsigned j = 0; j < kGroups.count; ++j) {
        std::uint32_t mask1 = get_u(record(image, kGroups, j), Group("ldapGroupBayMask1"));
        set_u(image, V20("ldapGroupBayMask2"), doubled_low_half(mask1), j);
    }
}

// Rated circuit: 80 % of the cap, rounded half up and cut toward zero.
std::int32_t rated_circuit(std::int32_t cap)
{
    return static_cast<std::int32_t>(static_cast<double>(cap) * 0.8 + 0.5);
}

// ---- Steps on the version-19 record -------------------------------------

void to19(std::uint8_t *image, StepContext &)
{
    clear(image, V19("clearedAt19Signatures1"));
    clear(image, V19("clearedAt19MlnInfo"));
    clear(image, V19("clearedAt19Signatures2"));
}

void to20(std::uint8_t *image, StepContext &)
{
    std::array<std::uint8_t, kRecord19Size> old{};  // the tail beyond the image reads as zero
    std::memcpy(old.data(), image, kImageSize);
    std::memset(image, 0, kImageSize);
    set_magic(image, "ZRN");
    set_u(image, V20("version"), 20);
    apply_map(kMap20, old.data(), image);
    apply_records(kUserMap20, old.data(), V19("userRecords"), image, V20("userRecords"));
    set_text(image, V20("configMD5"), "11111111111111111111111111111111");
}

// ---- Steps on the version-20 layout -------------------------------------

void to21(std::uint8_t *image, StepContext &)
{
    set_values(image, {{V20("subjectAltName"), 0}, {V20("twofactor"), 0}, {V20("crl"), 0}});
    // Only "public" and its terminator: the rest of each slot is left as is.
    static constexpr char kPublic[] = "public";
    for (unsigned k = 0; k < V20("trapCommunities").count; ++k)
        std::memcpy(image + V20("trapCommunities").at(k), kPublic, sizeof kPublic);
}

void to22(std::uint8_t *image, StepContext &)
{
    set_values(image, {{V20("usbMode"), 0}});
    derive_second_bay_masks(image);
}

void to23(std::uint8_t *image, StepContext &)
{
    derive_second_bay_masks(image);
    clear(image, V20("bladeSignatures2"));
}

void to24(std::uint8_t *image, StepContext &)
{
    set_magic(image, "002");
    set_values(image, {
        {V20("llfFlag"), 0},
        {V20("llfInterval"), 60},
        {V20("nicForcedFlag"), 0},
        {V20("nicSpeed"), 100},
        {V20("nicDuplex"), 1},
        {V20("strictPasswordsEnabled"), 0},
        {V20("minPasswordLength"), 0},
        {V20("syslogServerPort"), 514},
        {V20("remoteLogEnabled"), 0},
        {V20("ipswapFlag"), 0},
        {V20("ipswapConfiguredRole"), 0},
        {V20("powerdelayStatus"), 0},
        {V20("interconnectDelays"), 0},
        {V20("serverDelays"), 0},
    });
    clear(image, V20("syslogServerAddress"));
    clear(image, V20("ipswapMidplaneSerialNo"));
    clear(image, V20("ipswapZelmarBuddySerialNo"));
}

constexpr std::int32_t kSessionTimeoutDefault = 1440;

void to25(std::uint8_t *image, StepContext &)
{
    set_values(image, {
        {V20("sessionTimeout"), kSessionTimeoutDefault},
        {V20("groupCapBays"), 0},
        {V20("groupCap"), 0},
        {V20("guiLoginDetailFlag"), 1},
        {V20("groupInterval"), 0},
        {V20("groupKi"), 0},
        {V20("groupMaxKi"), 0},
        {V20("groupKp"), 0},
        {V20("groupKd"), 0},
    });
}

void to26(std::uint8_t *image, StepContext &)
{
    if (get_i(image, V20("sessionTimeout")) == kSessionTimeoutDefault)
        set_i(image, V20("sessionTimeout"), 0);
}

void to27(std::uint8_t *image, StepContext &)
{
    std::array<std::uint8_t, kImageSize> old{};
    std::memcpy(old.data(), image, kImageSize);
    std::memset(image, 0, kImageSize);
    set_magic(image, "002");
    set_u(image, F("version"), 27);
    apply_map(kMap27, old.data(), image);
    apply_records(kUserMapStd, old.data(), V20("userRecords"), image, F("userRecords"));

    std::int32_t cap = get_i(image, F("groupCap"));
    set_values(image, {
        {F("groupDeratedCircuit"), cap},
        {F("groupRatedCircuit"), cap ? rated_circuit(cap) : 0},
        {F("urbInterval"), 2},
        {F("urbLastStatus"), 255},
    });
}

// ---- Steps on the current layout ----------------------------------------

void to28(std::uint8_t *image, StepContext &)
{
    set_values(image, {
        {F("updatePolicy"), 0},
        {F("fwManagementEnabled"), 0},
        {F("manualPolicyFrontBays1"), -1},
        {F("serverBaysInProgress1"), 0},
        {F("updateDate"), 0},
        {F("manualPolicyFrontBays0"), -1},
        {F("manualPolicyIoBays"), 0},
        {F("manualPolicyMisc"), 0},
        {F("dvdStatus"), 0},
        {F("serverBaysInProgress0"), 0},
    });
    clear(image, F("isoUrl"));
}

// An empty SNMP text becomes two double quotes. The whole field is
// rewritten so that stale bytes after an empty text cannot join the quotes.
void quote_if_empty(std::uint8_t *image, Field f)
{
    if (image[f.offset] == 0)
        set_text(image, f, "\"\"");
}

void to29(std::uint8_t *image, StepContext &)
{
    clear(image, F("urbSmtpServer"));
    clear(image, F("urbEmailAddress"));
    if (get_i(image, F("urbLastAttempt")) > 0)
        set_u(image, F("urbLastStatus"), get_u(image, F("urbLastStatus")) ? 5 : 4);
    quote_if_empty(image, F("syslocation"));
    quote_if_empty(image, F("syscontact"));
}

void to30(std::uint8_t *image, StepContext &)
{
    clear(image, F("solutionsID"));
}

void to31(std::uint8_t *image, StepContext &)
{
    set_values(image, {
        {F("efmLocked"), 1},
        {F("updatePolicy"), 0},
        {F("powerPolicy"), 0},
        {F("forceDowngrade"), 0},
        {F("fwManagementEnabled"), 0},
        {F("vigilSystem"), 1},
        {F("serverBaysInProgress1"), 0},
        {F("updateDate"), 0},
        {F("manualPolicyFrontBays0"), 0},
        {F("manualPolicyFrontBays1"), 0},
        {F("dvdStatus"), 0},
        {F("serverBaysInProgress0"), 0},
    });
    clear(image, F("isoUrl"));
}

void to32(std::uint8_t *image, StepContext &)
{
    set_values(image, {{F("efmLocked"), 0}, {F("baudRate"), 9600}, {F("bannerEnabled"), 0}});
}

void to33(std::uint8_t *image, StepContext &)
{
    set_values(image, {
        {F("KAT_error_reboot_counter"), 0},
        {F("lcdForceNewPinCode"), 0},
        {F("KAT_error_reboot"), 0},
        {F("KAT_error_reboot_time"), 0},
    });
}

void to34(std::uint8_t *image, StepContext &)
{
    clear(image, F("senderEmail"));
    clear(image, F("senderName"));
    set_values(image, {{F("directoryServerGCPort"), 0}, {F("tcpTimeout"), 10}});
    set_bit(image, B("KivuFederation"), false);
    set_bit(image, B("ipv6DyndnsFlag"), false);
    set_bit(image, B("sshKexDhg1"), true);
    set_bit(image, B("autoResetServer"), false);
}

void to35(std::uint8_t *image, StepContext &)
{
    set_bit(image, B("KivuFederation"), true);
}

void to36(std::uint8_t *image, StepContext &)
{
    clear(image, F("ipv6StaticDefaultGateway"));
    set_bit(image, B("fqdnEnabled"), false);
}

void to37(std::uint8_t *image, StepContext &)
{
    clear(image, F("ipv6StaticRouteDestination"));
    clear(image, F("ipv6StaticRouteGateway"));
    set_bit(image, B("ipv6RaTrafficEnabled"), true);
}

// In FIPS mode the user table moves to the FIPS layout. Its slots overlap
// the standard ones, so every user is read before any is written.
void to38(std::uint8_t *image, StepContext &ctx)
{
    if (!ctx.fips_mode())
        return;
    constexpr Field kStdTable = F("userRecords");
    constexpr Field kFipsTable = F("userRecordsFips");
    unsigned count = get_u(image, F("userCount"));
    if (count > kFipsTable.count) {
        set_u(image, F("userCount"), kFipsTable.count);
        ctx.note("Retaining %d users from %d users\n", static_cast<int>(kFipsTable.count), static_cast<int>(count));
        count = kFipsTable.count;
    }
    std::array<std::array<std::uint8_t, kStdTable.size>, kFipsTable.count> users{};
    for (unsigned i = 0; i < count; ++i)
        apply_map(kUserMapStd, record(image, kStdTable, i), users[i].data());
    for (unsigned i = 0; i < count; ++i)
        apply_map(kUserMapFips, users[i].data(), record(image, kFipsTable, i));
}

void to39(std::uint8_t *image, StepContext &)
{
    clear(image, F("serviceAccount"));
    clear(image, F("serviceAccountPassword"));
    set_values(image, {{F("serviceAccountFlag"), 0}});
    set_bit(image, B("cac"), false);
    set_bit(image, B("ocsp"), false);
}

void to40(std::uint8_t *image, StepContext &)
{
    set_values(image, {{F("SSLSessionCacheTimeout"), 5}});
}

constexpr MigrationStep kChain[] = {
    {18, to19}, {19, to20}, {20, to21}, {21, to22}, {22, to23}, {23, to24}, {24, to25}, {25, to26},
    {26, to27}, {27, to28}, {28, to29}, {29, to30}, {30, to31}, {31, to32}, {32, to33}, {33, to34},
    {34, to35}, {35, to36}, {36, to37}, {37, to38}, {38, to39}, {39, to40},
};

consteval bool chain_is_contiguous()
{
    for (std::size_t i = 1; i < std::size(kChain); ++i)
        if (kChain[i].from != kChain[i - 1].from + 1)
            return false;
    return kChain[std::size(kChain) - 1].from + 1 == kCurrentVersion;
}
static_assert(chain_is_contiguous());
static_assert(V19("version").offset == F("version").offset && V20("version").offset == F("version").offset);

} // namespace

std::span<const MigrationStep> migration_chain()
{
    return kChain;
}

} // namespace settings
