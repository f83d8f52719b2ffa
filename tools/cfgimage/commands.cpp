#include "tools/cfgimage/commands.h"

#include "platform/platform.h"
#include "settings/migrate.h"
#include "tools/cfgimage/factory_image.h"
#include "tools/cfgimage/fields.h"
#include "tools/cfgimage/image_file.h"
#include "tools/cfgimage/render.h"
#include "tools/cfgimage/show.h"
#include "tools/cfgimage/text_form.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace cfgimage {

namespace {

struct CommandForm {
    const char *name;
    const char *options;   // the flags it takes, space separated
    const char *operands;  // as the synopsis writes them
    std::size_t min_args, max_args;
    const char *about;     // what it does, for its help
};

constexpr std::size_t kMany = 1000;

constexpr CommandForm kCommands[] = {
    {"show", "--json --secrets --fips", "[IMAGE]", 0, 1,
     "Prints the decode report, the magic and version, then every field of the image's\n"
     "layout (the user and directory group tables as tables). Never writes.\n"
     "Without IMAGE: the module's /dev/env.\n"},
    {"check", "", "[IMAGE]", 0, 1,
     "Prints one summary line; the status tells the worst finding: 0 clean, 1 corrected\n"
     "(a load would rewrite the device), 2 uncorrectable, 3 unformatted magic, 4 a version\n"
     "other than 40, 5 the image cannot be read. Never writes.\n"
     "Without IMAGE: the module's /dev/env.\n"},
    {"get", "--force --fips", "IMAGE FIELD[INDEX]...", 2, kMany,
     "Prints the fields' values, one a line, in the form export writes them (a backslash\n"
     "as \\\\, a line break or other byte outside printable ASCII as \\xHH). Array fields\n"
     "and user or directory group record fields take an index: trapReceivers[2],\n"
     "userName[0], ldapGroupId[4].\n"},
    {"set", "--force --fips", "IMAGE FIELD[INDEX]=VALUE...", 2, kMany,
     "Checks every value (numbers in decimal or 0x hex, texts within their width, IPv4\n"
     "and IPv6 syntax, bytes as hex digits) and refuses an edit that a configuration\n"
     "file would not write as stored: a text it would change, a user record or directory\n"
     "group it would leave out or give another password field (an empty hash, a fixed\n"
     "account's name or id, root, an all-digit name), or, without --force, a change of\n"
     "the user layout it reads, and a magic or version the load would not keep (a magic\n"
     "it refuses, a version the migration cannot bring to 40, a newer one under a magic\n"
     "other than 002), which the next boot replaces by factory defaults. Then it\n"
     "re-encodes the image and writes it in place: the module's\n"
     "/dev/env under the settings lock, a file under its lock after a whole copy beside\n"
     "it. Any refusal writes nothing.\n"},
    {"export", "--force --secrets --fips", "[IMAGE]", 0, 1,
     "Prints every setting, one FIELD=VALUE line each (FIELD[INDEX]=VALUE for array\n"
     "elements and record fields), in layout order, after a # line naming the layout\n"
     "version: values as set reads them, with a backslash as \\\\ and a byte outside\n"
     "printable ASCII (or a last space) as \\xHH. Secrets only with --secrets. Never\n"
     "writes. Without IMAGE: the module's /dev/env. An image with an uncorrectable\n"
     "codeword, a refused magic or another version (such as the /etc/env.before-restore\n"
     "a factory restore keeps) is exported only with --force, its bytes as they stand.\n"},
    {"import", "--force --fips", "IMAGE FILE", 2, 2,
     "Applies every FIELD=VALUE line of FILE (- for standard input), as export writes\n"
     "them, in one write as set does; blank lines and # lines are skipped, and a setting\n"
     "FILE leaves out (a secret of an export without --secrets) keeps its value. A bad\n"
     "line writes nothing: each is told as FILE:LINE: reason. A value it changes that\n"
     "set would refuse is refused too, unless --force. export leaves out the frame;\n"
     "magic= and version= lines edit it as set does: a magic or version the load would\n"
     "not keep is refused unless --force.\n"},
    {"diff", "--secrets --json --fips", "IMAGE1 IMAGE2", 2, 2,
     "Prints FIELD: OLD -> NEW for each setting that differs, in export's form and layout\n"
     "order; a secret shows as (hidden) without --secrets. Exits 0 when the settings are\n"
     "equal, 1 when they differ, 2 when an image cannot be read or is refused.\n"},
    {"fields", "--fips", "", 0, 0,
     "Prints every name get and set take, one a line, in layout order (array elements and\n"
     "record fields with their index), then the bits; with --fips the FIPS user table's.\n"},
    {"new", "--force --fips --serial --part --unique-id --password --lcd-pin", "IMAGE", 1, 1,
     "Writes a factory-default image; the options stand for what the board's EEPROMs\n"
     "would give, and left out, the module's own fallbacks apply. An existing IMAGE (the\n"
     "module's /dev/env too) is replaced only with --force.\n"},
    {"migrate", "--fips", "IMAGE", 1, 1,
     "Migrates the image to version 40, printing each step; writes only when version 40\n"
     "is reached.\n"},
    {"render", "--force --fips", "IMAGE DIR", 2, 2,
     "Writes into DIR every file cfgpull's options produce from the image (DIR/etc/passwd,\n"
     "DIR/etc/wrenconf, ...) and touches nothing else; a link below DIR is refused. The\n"
     "service accounts' passwords come from DIR/etc/passwd when it exists.\n"},
    {"help", "", "[COMMAND]", 0, 1, "Prints the usage of every command, or what one command does.\n"},
};

struct OptionHelp {
    const char *name;
    const char *value;  // nullptr for a flag
    const char *about;
};

constexpr OptionHelp kOptionHelp[] = {
    {"--json", nullptr, "one JSON document instead of text (hidden values are null)"},
    {"--secrets", nullptr,
     "also the secrets: password hashes and passwords, LCD PIN, SNMP communities,\n"
     "                    and user fields whose bytes hold a hash of the other user table"},
    {"--fips", nullptr, "the user table as a module in FIPS mode has it (new, migrate: the mode to assume)"},
    {"--force", nullptr,
     "work on an image with an uncorrectable codeword, another magic or another version;\n"
     "                    set: change the user layout, store a magic or version the load would not keep;\n"
     "                    new: replace an existing image"},
    {"--serial", "S", "the chassis serial number"},
    {"--part", "P", "the chassis part number"},
    {"--unique-id", "HEX12", "the board's unique id, 12 hexadecimal digits"},
    {"--password", "P", "the Administrator's password; without it nobody can log in"},
    {"--lcd-pin", "PIN", "the LCD PIN instead of a random one (with --fips only)"},
};

const CommandForm *form_for(const std::string &name)
{
    for (const CommandForm &c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

std::vector<std::string_view> option_names(const CommandForm &form)
{
    std::vector<std::string_view> names;
    std::string_view list = form.options;
    while (!list.empty()) {
        std::size_t end = std::min(list.find(' '), list.size());
        names.push_back(list.substr(0, end));
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return names;
}

bool takes(const CommandForm &form, const std::string &option)
{
    std::vector<std::string_view> names = option_names(form);
    return std::find(names.begin(), names.end(), option) != names.end();
}

std::optional<std::string> *value_slot(CommandLine &line, const std::string &option)
{
    if (option == "--serial")
        return &line.serial;
    if (option == "--part")
        return &line.part;
    if (option == "--unique-id")
        return &line.unique_id;
    if (option == "--password")
        return &line.password;
    if (option == "--lcd-pin")
        return &line.lcd_pin;
    return nullptr;
}

bool *flag_slot(CommandLine &line, const std::string &option)
{
    if (option == "--json")
        return &line.json;
    if (option == "--secrets")
        return &line.secrets;
    if (option == "--force")
        return &line.force;
    if (option == "--fips")
        return &line.fips;
    return nullptr;
}

int fail(const std::string &message, int status = kFailed)
{
    std::cerr << "cfgimage: " << message << "\n";
    return status;
}

// Without an image, show and check read the module's own device, which a
// workstation without a simulated module does not have.
std::optional<std::string> no_device(const CommandLine &line)
{
    if (!line.args.empty() || platform::root_known())
        return std::nullopt;
    return "no module device here (CFGPULL_SIM_ROOT names no simulated module); pass an image: cfgimage " +
           line.command + " IMAGE";
}

const OptionHelp &option_help(std::string_view name)
{
    for (const OptionHelp &o : kOptionHelp)
        if (name == o.name)
            return o;
    return kOptionHelp[0];  // every option of kCommands has its entry
}

std::string synopsis(const CommandForm &form)
{
    std::string text = std::string("cfgimage ") + form.name;
    for (std::string_view name : option_names(form)) {
        const OptionHelp &o = option_help(name);
        text += std::string(" [") + o.name + (o.value ? std::string(" ") + o.value : "") + "]";
    }
    return text + (*form.operands ? std::string(" ") + form.operands : "");
}

std::string command_help(const CommandForm &form)
{
    std::string text = "usage: " + synopsis(form) + "\n" + form.about;
    for (std::string_view name : option_names(form)) {
        const OptionHelp &o = option_help(name);
        std::string left = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
        text += "  " + left + std::string(left.size() < 18 ? 18 - left.size() : 1, ' ') + o.about + "\n";
    }
    return text;
}

int fips_on() { return 1; }
int fips_off() { return 0; }

// Why the image's fields cannot be trusted to sit where the current layout
// says, if so.
std::optional<std::string> distrust(const Decoded &d)
{
    switch (health(d)) {
    case Health::Uncorrectable:
        return "uncorrectable codeword " + std::to_string(d.uncorrectable.front());
    case Health::Unformatted:
        return "magic not accepted";
    case Health::OtherVersion:
        return "version " + std::to_string(settings::get_u(d.image.data(), settings::F("version"))) + ", not " +
               std::to_string(settings::kCurrentVersion) + " (see cfgimage migrate)";
    default:
        return std::nullopt;
    }
}

// The image a command works on, refused when distrusted (unless forced).
// `forced` tells --force for the commands that take it; the others refuse
// a distrusted image always. `trouble` is the status when it is not had.
std::optional<Decoded> load(ImageFile &file, std::optional<bool> forced, int &status, int trouble = kFailed)
{
    RawImage raw{};
    if (auto error = file.read(raw)) {
        status = fail(*error, trouble);
        return std::nullopt;
    }
    Decoded d = decode_all(raw);
    std::optional<std::string> why = distrust(d);
    if (!why || forced.value_or(false))
        return d;
    status = fail(file.name() + ": " + *why + (forced ? "; refused without --force" : "; refused"), trouble);
    return std::nullopt;
}

// The image of a command that takes no --force.
std::optional<Decoded> trusted(const std::string &path, int trouble, int &status)
{
    ImageFile file(path, ImageFile::Read);
    return load(file, std::nullopt, status, trouble);
}

std::optional<Decoded> load(const std::string &path, bool force, int &status)
{
    ImageFile file(path, ImageFile::Read);
    return load(file, force, status);
}

// "" stands for the module's own device.
std::string default_image(const CommandLine &line)
{
    return line.args.empty() ? std::string() : line.args[0];
}

int show(const CommandLine &line)
{
    if (auto why = no_device(line))
        return fail(*why);
    RawImage raw{};
    ImageFile file(default_image(line), ImageFile::Read);
    if (auto error = file.read(raw))
        return fail(*error);
    auto doc = show_document(decode_all(raw), {line.secrets, line.fips});
    if (line.json)
        std::cout << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    else
        std::cout << show_text(doc);
    return kOk;
}

int check(const CommandLine &line)
{
    if (auto why = no_device(line))
        return fail(*why, kUnreadable);
    RawImage raw{};
    ImageFile file(default_image(line), ImageFile::Read);
    if (auto error = file.read(raw))
        return fail(*error, kUnreadable);
    Decoded d = decode_all(raw);
    std::cout << file.name() << ": " << health_summary(d) << "\n";
    return static_cast<int>(health(d));
}

std::variant<Place, std::string> place_of(const std::string &text, const Decoded &d, bool fips)
{
    std::optional<FieldName> name = parse_field_name(text);
    if (!name)
        return text + ": not a field name (NAME or NAME[INDEX])";
    return resolve(*name, d.image.data(), fips);
}

int get(const CommandLine &line)
{
    int status = kOk;
    std::optional<Decoded> d = load(line.args[0], line.force, status);
    if (!d)
        return status;
    std::vector<std::string> values;
    for (std::size_t i = 1; i < line.args.size(); ++i) {
        auto place = place_of(line.args[i], *d, line.fips);
        if (auto *error = std::get_if<std::string>(&place))
            return fail(*error);
        values.push_back(escape(format_place(d->image.data(), std::get<Place>(place))));
    }
    for (const std::string &v : values)
        std::cout << v << "\n";
    return kOk;
}

// What --force leaves behind must not pass for a clean image unsaid: the
// codewords are valid now, whatever their bytes were meant to hold.
void warn_stored_as_valid(const std::string &name, const std::vector<int> &unreadable)
{
    if (unreadable.empty())
        return;
    std::string list;
    for (int block : unreadable)
        list += (list.empty() ? "" : ", ") + std::to_string(block);
    bool many = unreadable.size() > 1;
    std::cerr << "cfgimage: " << name << ": codeword" << (many ? "s " : " ") << list << " could not be read; "
              << (many ? "their" : "its") << " bytes, as read, are now stored as valid\n";
}

int set(const CommandLine &line)
{
    int status = kOk;
    ImageFile file(line.args[0], ImageFile::Edit);
    std::optional<Decoded> d = load(file, line.force, status);
    if (!d)
        return status;
    SettingsImage before = d->image;
    std::vector<Place> places;
    for (std::size_t i = 1; i < line.args.size(); ++i) {
        const std::string &arg = line.args[i];
        std::size_t eq = arg.find('=');
        if (eq == std::string::npos)
            return fail(arg + ": not FIELD=VALUE", kUsage);
        auto place = place_of(arg.substr(0, eq), *d, line.fips);
        if (auto *error = std::get_if<std::string>(&place))
            return fail(*error);
        places.push_back(std::get<Place>(place));
        if (auto error = assign(d->image.data(), places.back(), std::string_view(arg).substr(eq + 1)))
            return fail(*error);
    }
    if (auto refused = edit_refusals(before.data(), d->image.data(), places, line.fips, line.force); !refused.empty())
        return fail(refused.front().why);
    if (auto error = file.write(d->image))
        return fail(*error);
    warn_stored_as_valid(file.name(), d->uncorrectable);
    return kOk;
}

int export_settings(const CommandLine &line)
{
    if (auto why = no_device(line))
        return fail(*why);
    int status = kOk;
    std::optional<Decoded> d = load(default_image(line), line.force, status);
    if (!d)
        return status;
    std::cout << export_text(d->image.data(), {line.secrets, line.fips});
    return kOk;
}

// The name messages give FILE.
std::string text_name(const std::string &path)
{
    return path == "-" ? "(standard input)" : path;
}

// All of FILE ("-": standard input), which may be a pipe; a size no
// export reaches ends the read.
std::optional<std::string> read_text(const std::string &path, std::string &text)
{
    constexpr std::size_t kLimit = std::size_t{1} << 20;
    platform::Fd file(path == "-" ? ::dup(0) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return text_name(path) + ": cannot open: " + std::strerror(errno);
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n == 0)
            return std::nullopt;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return text_name(path) + ": cannot read: " + std::strerror(errno);
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kLimit)
            return text_name(path) + ": more than 1 MiB, not a settings text";
    }
}

int import_settings(const CommandLine &line)
{
    // FILE is read whole before the image is locked: a slow pipe keeps
    // no cfgpull run waiting.
    const std::string &from = line.args[1];
    std::string text;
    if (auto error = read_text(from, text))
        return fail(*error);
    int status = kOk;
    ImageFile file(line.args[0], ImageFile::Edit);
    std::optional<Decoded> d = load(file, line.force, status);
    if (!d)
        return status;
    std::vector<LineError> errors = import_text(d->image, text, {false, line.fips, line.force});
    for (const LineError &e : errors)
        std::cerr << text_name(from) << ":" << e.line << ": " << e.reason << "\n";
    if (!errors.empty())
        return fail(file.name() + ": nothing written (" + std::to_string(errors.size()) + " bad line" +
                    (errors.size() > 1 ? "s)" : ")"));
    if (auto error = file.write(d->image))
        return fail(*error);
    warn_stored_as_valid(file.name(), d->uncorrectable);
    return kOk;
}

int diff(const CommandLine &line)
{
    constexpr int kDiffer = 1, kTrouble = 2;  // as diff and cmp have them
    int status = kOk;
    std::optional<Decoded> a = trusted(line.args[0], kTrouble, status);
    std::optional<Decoded> b = a ? trusted(line.args[1], kTrouble, status) : std::nullopt;
    if (!b)
        return status;
    std::vector<Difference> differences = diff_settings(a->image.data(), b->image.data(), {line.secrets, line.fips});
    std::cout << (line.json ? diff_json(differences) : diff_text(differences));
    return differences.empty() ? kOk : kDiffer;
}

int fields(const CommandLine &line)
{
    SettingsImage blank{};
    for (const Place &p : settings_in(blank.data(), line.fips, true))
        std::cout << p.name << "\n";
    for (const Bit &b : current_layout().bits)
        std::cout << b.name << "\n";
    return kOk;
}

int migrate(const CommandLine &line)
{
    RawImage raw{};
    ImageFile file(line.args[0], ImageFile::Edit);
    const std::string &path = file.name();
    if (auto error = file.read(raw))
        return fail(*error);
    Decoded d = decode_all(raw);
    if (!d.uncorrectable.empty())
        return fail(path + ": uncorrectable codeword " + std::to_string(d.uncorrectable.front()));
    if (!magic_accepted(d.image.data()))
        return fail(path + ": magic not accepted");
    unsigned from = settings::get_u(d.image.data(), settings::F("version"));
    if (from == settings::kCurrentVersion) {
        std::cout << path << ": already version " << from << "\n";
        return kOk;
    }
    settings::MigrationLog log = settings::migrate_image(d.image, line.fips ? fips_on : fips_off);
    for (std::string step : log) {
        while (!step.empty() && step.back() == '\n')
            step.pop_back();
        std::cout << step << "\n";
    }
    unsigned to = settings::get_u(d.image.data(), settings::F("version"));
    if (to != settings::kCurrentVersion)
        return fail(path + ": version " + std::to_string(from) + " cannot be migrated; nothing written");
    if (auto error = file.write(d.image))
        return fail(*error);
    std::cout << path << ": migrated from version " << from << " to " << to << "\n";
    return kOk;
}

int render(const CommandLine &line)
{
    int status = kOk;
    std::optional<Decoded> d = load(line.args[0], line.force, status);
    if (!d)
        return status;
    const std::string &dir = line.args[1];
    ComposeInput input{line.fips, kept_passwords_below(dir)};
    std::vector<RenderedFile> files = render_files(d->image.data(), input);
    for (const RenderedFile &f : files)
        for (const LogEntry &e : f.log)
            if (e.channel == LogEntry::Event)
                std::cerr << "cfgimage: note: " << e.text.substr(0, e.text.find('\n')) << "\n";
    if (auto error = write_rendered(dir, files))
        return fail(*error);
    return kOk;
}

int make_new(const CommandLine &line)
{
    NewImageOptions options{line.fips, line.serial, line.part, line.unique_id, line.password, line.lcd_pin};
    struct stat st {};
    if (!line.force && ::lstat(line.args[0].c_str(), &st) == 0)
        return fail(line.args[0] + ": exists; new would replace every setting, refused without --force");
    SettingsImage image{};
    if (auto error = factory_image(options, image))
        return fail(*error);
    if (auto error = write_image(line.args[0], image))
        return fail(*error);
    if (!line.password)
        std::cerr << "cfgimage: warning: the Administrator cannot log in until a password is set: "
                     "cfgimage new --password PASSWORD " << line.args[0] << "\n";
    return kOk;
}

// `cfgimage help [COMMAND]` and `cfgimage COMMAND --help`.
int help(const CommandLine &line)
{
    const CommandForm *form = nullptr;
    if (line.help)
        form = form_for(line.command);
    else if (!line.args.empty())
        form = form_for(line.args[0]);
    std::cout << (form ? command_help(*form) : usage_text());
    return kOk;
}

} // namespace

std::string usage_text()
{
    std::string text;
    for (const CommandForm &c : kCommands)
        text += (text.empty() ? "usage: " : "       ") + synopsis(c) + "\n";
    return text + "IMAGE is a raw NVRAM image; show, check and export read the module's /dev/env without one.\n"
                  "FILE is text as export writes it; - reads standard input.\n"
                  "'cfgimage help COMMAND' tells more, and so does the manual, cfgimage(1).\n";
}

std::variant<CommandLine, std::string> parse_command_line(const std::vector<std::string> &argv)
{
    if (argv.empty())
        return std::string("no command");
    CommandLine line;
    line.command = argv[0];
    const CommandForm *form = form_for(line.command);
    if (form == nullptr)
        return line.command + ": no such command";
    bool options_done = false;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        std::string arg = argv[i];
        if (options_done || !arg.starts_with("--")) {
            line.args.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help") {
            line.help = true;
            return line;
        }
        std::size_t eq = arg.find('=');
        std::string option = arg.substr(0, eq);
        if (!takes(*form, option))
            return line.command + ": no option " + option;
        if (bool *flag = flag_slot(line, option)) {
            if (eq != std::string::npos)
                return option + ": takes no value";
            *flag = true;
        } else if (eq != std::string::npos) {
            *value_slot(line, option) = arg.substr(eq + 1);
        } else if (i + 1 < argv.size()) {
            *value_slot(line, option) = argv[++i];
        } else {
            return option + ": needs a value";
        }
    }
    if (line.args.size() < form->min_args || line.args.size() > form->max_args)
        return line.command + ": wrong number of arguments";
    if (line.command == "help" && !line.args.empty() && form_for(line.args[0]) == nullptr)
        return line.args[0] + ": no such command";
    return line;
}

int run(const CommandLine &line)
{
    const std::string &c = line.command;
    if (line.help || c == "help")
        return help(line);
    if (c == "show")
        return show(line);
    if (c == "check")
        return check(line);
    if (c == "get")
        return get(line);
    if (c == "set")
        return set(line);
    if (c == "export")
        return export_settings(line);
    if (c == "import")
        return import_settings(line);
    if (c == "diff")
        return diff(line);
    if (c == "fields")
        return fields(line);
    if (c == "new")
        return make_new(line);
    if (c == "migrate")
        return migrate(line);
    return render(line);
}

int cfgimage_main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--version") {
        std::cout << "cfgimage " << CFGPULL_VERSION << "\n";
        return kOk;
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h"))
        args[0] = "help";
    auto parsed = parse_command_line(args);
    if (auto *error = std::get_if<std::string>(&parsed)) {
        std::cerr << "cfgimage: " << *error << "\n" << usage_text();
        return kUsage;
    }
    return run(std::get<CommandLine>(parsed));
}

} // namespace cfgimage
