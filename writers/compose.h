// Composing the account, directory, bay, blade-signature and scheduling
// files: pure functions of the settings image. The writers in writers.h
// open, lock, write and close around them.
#pragma once

#include "settings/layout.h"
#include "writers/output.h"
#include "writers/user_table.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Password fields of the two service accounts as the current /etc/passwd
// holds them; absent when the account has no entry.
struct KeptPasswords {
    std::optional<std::string> mlnuser;
    std::optional<std::string> kstuser;
};

// A kept field longer than this, far beyond any crypt(3) hash, is written
// "*": reading it costs no more memory than this.
constexpr std::size_t kKeptLimit = 64 * 1024;

// The two password fields from a passwd text, each from the account's
// genuine line only: its exact name at the start of the line and its fixed
// uid (100, 101). A forged entry that a parser would also read as the
// account (" mlnuser_") is never taken. kept_passwords_of reads them from
// an open file, a piece at a time.
KeptPasswords kept_passwords_in(std::string_view passwd_text);
KeptPasswords kept_passwords_of(int fd);

void compose_ldapconf(const std::uint8_t *image, OutputBuffer &out);
void compose_passwd(const std::uint8_t *image, const settings::UserLayout &layout,
                    const KeptPasswords &kept, OutputBuffer &out, LogEntries &log);
void compose_group(const std::uint8_t *image, const settings::UserLayout &layout, OutputBuffer &out,
                   LogEntries &log);
void compose_bayconf(const std::uint8_t *image, const settings::UserLayout &layout,
                     OutputBuffer &out, LogEntries &log);
void compose_ldapgroup(const std::uint8_t *image, OutputBuffer &out, LogEntries &log);
void compose_urb(const std::uint8_t *image, OutputBuffer &out);
void compose_fw_mgmt(const std::uint8_t *image, OutputBuffer &out);
void compose_kat_info(const std::uint8_t *image, OutputBuffer &out);

// The raw files: bytes copied out of the image.
std::string compose_bladesig(const std::uint8_t *image);
std::string compose_mlninfo(const std::uint8_t *image);
