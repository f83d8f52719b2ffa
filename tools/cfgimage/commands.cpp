#include "tools/cfgimage/commands.h"

#include "platform/platform.h"
#include "settings/migrate.h"
#include "tools/cfgimage/factory_image.h"
#include "tools/cfgimage/fields.h"
#include "tools/cfgimage/image_file.h"
#include "tools/cfgimage/render.h"
#include "tools/cfgimage/show.h"

#include <cstdio>
#include <cstring>
#include <iostream>

namespace cfgimage {

namespace {

struct CommandForm {
    const char *name;
    const char *options;  // the flags it takes, space separated
    std::size_t min_args, max_args;
};

constexpr std::size_t kMany = 1000;

constexpr CommandForm kCommands[] = {
    {"show", "--json --secrets --fips", 0, 1},
    {"check", "", 0, 1},
    {"get", "--force --fips", 2, kMany},
    {"set", "--force --fips", 2, kMany},
    {"new", "--fips --serial --part --unique-id --password --lcd-pin", 1, 1},
    {"migrate", "--fips", 1, 1},
    {"render", "--force --fips", 2, 2},
};

const CommandForm *form_for(const std::string &name)
{
    for (const CommandForm &c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

bool takes(const CommandForm &form, const std::string &option)
{
    std::string_view list = form.options;
    std::size_t at = list.find(option);
    return at != std::string_view::npos && (at + option.size() == list.size() || list[at + option.size()] == ' ');
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

int fips_on() { return 1; }
int fips_off() { return 0; }

// The image a command works on, refused when its fields cannot be trusted
// to sit where the current layout says (unless forced).
std::optional<Decoded> load(const std::string &path, bool force, int &status)
{
    RawImage raw{};
    if (auto error = read_raw(path, raw)) {
        status = fail(*error);
        return std::nullopt;
    }
    Decoded d = decode_all(raw);
    std::string why;
    switch (health(d)) {
    case Health::Uncorrectable:
        why = "uncorrectable codeword " + std::to_string(d.uncorrectable.front());
        break;
    case Health::Unformatted:
        why = "magic not accepted";
        break;
    case Health::OtherVersion:
        why = "version " + std::to_string(settings::get_u(d.image.data(), settings::F("version"))) +
              ", not " + std::to_string(settings::CURRENT_VERSION) + " (see cfgimage migrate)";
        break;
    default:
        return d;
    }
    if (force)
        return d;
    status = fail(path + ": " + why + "; refused without --force");
    return std::nullopt;
}

std::string default_image(const CommandLine &line)
{
    return line.args.empty() ? platform::path("/dev/env") : line.args[0];
}

int show(const CommandLine &line)
{
    RawImage raw{};
    std::string path = default_image(line);
    if (auto error = read_raw(path, raw))
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
    RawImage raw{};
    std::string path = default_image(line);
    if (auto error = read_raw(path, raw))
        return fail(*error, kUnreadable);
    Decoded d = decode_all(raw);
    std::cout << path << ": " << health_summary(d) << "\n";
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
        values.push_back(format_place(d->image.data(), std::get<Place>(place)));
    }
    for (const std::string &v : values)
        std::cout << v << "\n";
    return kOk;
}

int set(const CommandLine &line)
{
    int status = kOk;
    std::optional<Decoded> d = load(line.args[0], line.force, status);
    if (!d)
        return status;
    for (std::size_t i = 1; i < line.args.size(); ++i) {
        const std::string &arg = line.args[i];
        std::size_t eq = arg.find('=');
        if (eq == std::string::npos)
            return fail(arg + ": not FIELD=VALUE", kUsage);
        auto place = place_of(arg.substr(0, eq), *d, line.fips);
        if (auto *error = std::get_if<std::string>(&place))
            return fail(*error);
        if (auto error = assign(d->image.data(), std::get<Place>(place), std::string_view(arg).substr(eq + 1)))
            return fail(*error);
        if (auto error = refusal(d->image.data(), std::get<Place>(place), line.fips))
            return fail(*error);
    }
    if (auto error = write_image(line.args[0], d->image))
        return fail(*error);
    return kOk;
}

int migrate(const CommandLine &line)
{
    RawImage raw{};
    const std::string &path = line.args[0];
    if (auto error = read_raw(path, raw))
        return fail(*error);
    Decoded d = decode_all(raw);
    if (!d.uncorrectable.empty())
        return fail(path + ": uncorrectable codeword " + std::to_string(d.uncorrectable.front()));
    if (!magic_accepted(d.image.data()))
        return fail(path + ": magic not accepted");
    unsigned from = settings::get_u(d.image.data(), settings::F("version"));
    if (from == settings::CURRENT_VERSION) {
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
    if (to != settings::CURRENT_VERSION)
        return fail(path + ": version " + std::to_string(from) + " cannot be migrated; nothing written");
    if (auto error = write_image(path, d.image))
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
    RenderInput input{line.fips, kept_passwords_from(dir + "/etc/passwd")};
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
    SettingsImage image{};
    if (auto error = factory_image(options, image))
        return fail(*error);
    if (auto error = write_image(line.args[0], image))
        return fail(*error);
    return kOk;
}

} // namespace

const char *usage_text()
{
    return "usage: cfgimage show [--json] [--secrets] [--fips] [IMAGE]\n"
           "       cfgimage check [IMAGE]\n"
           "       cfgimage get [--force] [--fips] IMAGE FIELD[INDEX]...\n"
           "       cfgimage set [--force] [--fips] IMAGE FIELD[INDEX]=VALUE...\n"
           "       cfgimage new [--fips] [--serial S] [--part P] [--unique-id HEX12] [--password P]\n"
           "                    [--lcd-pin PIN] IMAGE\n"
           "       cfgimage migrate [--fips] IMAGE\n"
           "       cfgimage render [--force] [--fips] IMAGE DIR\n"
           "IMAGE is a raw NVRAM image; show and check read the module's /dev/env without one.\n";
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
    return line;
}

int run(const CommandLine &line)
{
    const std::string &c = line.command;
    if (c == "show")
        return show(line);
    if (c == "check")
        return check(line);
    if (c == "get")
        return get(line);
    if (c == "set")
        return set(line);
    if (c == "new")
        return make_new(line);
    if (c == "migrate")
        return migrate(line);
    return render(line);
}

int cfgimage_main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << usage_text();
        return kOk;
    }
    auto parsed = parse_command_line(args);
    if (auto *error = std::get_if<std::string>(&parsed)) {
        std::cerr << "cfgimage: " << *error << "\n" << usage_text();
        return kUsage;
    }
    return run(std::get<CommandLine>(parsed));
}

} // namespace cfgimage
