// Every file cfgpull writes, one row each: where it goes, its mode when
// created, what a failure to create or write it says and the exit status
// then, and the composer of its text. cfgpull's writers, cfgimage render
// and the reader of the kept service passwords take the files from here,
// so a new file is one row.
#pragma once

#include "writers/compose.h"

#include <sys/types.h>

#include <cstdint>
#include <span>

// What a file's text depends on besides the image.
struct ComposeInput {
    bool fips = false;   // the module's FIPS mode
    KeptPasswords kept;  // passwd: the service accounts' password fields
};

// Composes a file's text from `image`, which it may change in memory as
// cfgpull's writer does (the account files pin the administrator record).
using Composer = void (*)(std::uint8_t *image, const ComposeInput &in, OutputBuffer &out, LogEntries &log);

struct OutputFile {
    const char *path;          // module path
    mode_t mode;               // when created, less the umask
    const char *create_error;  // perror text when no new file can be started
    int create_status;         // exit status then
    const char *write_error;   // perror text when it cannot be written
    int write_status;
    Composer compose;
};

// In the order cfgimage render writes them.
enum class Output { Wrenconf, Netconf, SnmpdConf, Passwd, Group, Bayconf, Bladesig, Mlninfo, Ldapconf, Ldapgroup,
                    Urb, FwMgmt, KatInfo };

const OutputFile &output(Output file);
std::span<const OutputFile> outputs();

// Replaces the file whole with `text` (see store/replace.h): no reader,
// crash or full disk ever finds it cut short. Failures print their perror
// text (the create text when no new file could be started) and leave
// through cleanup_and_exit.
void write_config_file(const OutputFile &file, std::string_view text);

// Composes `file` from settings_image into the output buffer, sends what
// composing logs, and writes it (write_config_file).
void write_output(Output file, const ComposeInput &in = {});
