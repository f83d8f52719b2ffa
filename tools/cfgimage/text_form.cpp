#include "tools/cfgimage/text_form.h"

#include "tools/cfgimage/show.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>

namespace cfgimage {

using settings::F;
using settings::FieldType;

namespace {

// What frames the settings rather than being one: export leaves it out.
constexpr Field kFrame[] = {F("magic"), F("version"), F("pad")};

bool in_frame(const Field &f)
{
    return std::any_of(std::begin(kFrame), std::end(kFrame),
                       [&](const Field &g) { return std::string_view(g.name) == f.name; });
}

std::string indexed(const char *name, unsigned index)
{
    return FieldName{name, index}.text();
}

struct Entry {
    std::string name, value;  // value escaped
    bool secret;
};

std::vector<Entry> entries(const std::uint8_t *image, bool fips)
{
    std::vector<Entry> out;
    HashBytes hashes(current_layout(), image);
    for (const Place &p : settings_in(image, fips))
        out.push_back({p.name, escape(format_place(image, p)), shows_secret(p, hashes)});
    return out;
}

struct Line {
    unsigned number;
    FieldName name;
    std::string value;
};

std::vector<Line> parse_lines(std::string_view text, std::vector<LineError> &errors)
{
    std::vector<Line> lines;
    for (unsigned number = 1; !text.empty(); ++number) {
        std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r'))
            line.remove_suffix(1);  // a file that went through another system's editor
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        std::size_t eq = line.find('=');
        std::string_view name = line.substr(0, eq);
        std::optional<FieldName> field = printable(name) == name ? parse_field_name(name) : std::nullopt;
        std::optional<std::string> value = unescape(line.substr(std::min(eq + 1, line.size())));
        if (eq == std::string_view::npos)
            errors.push_back({number, printable(line) + ": not FIELD=VALUE"});
        else if (!field)
            errors.push_back({number, printable(name) + ": not a field name (NAME or NAME[INDEX])"});
        else if (!value)
            errors.push_back({number, field->text() + ": a backslash starts only \\\\ or \\xHH"});
        else
            lines.push_back({number, *field, *value});
    }
    return lines;
}

// Resolves each line in `layout_image`, whose administrator hash decides
// the user table, and stores its value in `image`: the place of each line,
// none for a bad one.
std::vector<std::optional<Place>> apply(SettingsImage &image, const SettingsImage &layout_image,
                                        const std::vector<Line> &lines, bool fips, std::vector<LineError> &errors)
{
    std::vector<std::optional<Place>> places;
    for (const Line &line : lines) {
        auto place = resolve(line.name, layout_image.data(), fips);
        std::optional<std::string> error;
        if (auto *why = std::get_if<std::string>(&place))
            error = *why;
        else
            error = assign(image.data(), std::get<Place>(place), line.value);
        if (error)
            errors.push_back({line.number, *error});
        places.push_back(error ? std::nullopt : std::optional<Place>(std::get<Place>(place)));
    }
    return places;
}

// Why a place is not in the user table the image is read in, if so: set
// takes a field of the other layout's, but a whole table of them written
// over it would be garbage.
std::optional<std::string> other_user_table(const Place &p, const std::uint8_t *image, bool fips)
{
    bool in_use = fips_users(image, fips);
    const Layout &layout = current_layout();
    auto has = [&](bool fips_table) {
        return settings::find_field(records_of(layout, settings::user_layout(fips_table).records), p.field.name);
    };
    if (!has(!in_use) || has(in_use))
        return std::nullopt;
    return p.name + ": a field of the " + (in_use ? "standard" : "FIPS") + " user table, and the image's is read in the " +
           (in_use ? "FIPS" : "standard") + " layout (record 0's hash or --fips decides)";
}

} // namespace

std::string escape(std::string_view value)
{
    std::string s = printable(value);
    if (s.ends_with(' '))
        s.replace(s.size() - 1, 1, "\\x20");  // an editor would drop it unseen
    return s;
}

std::optional<std::string> unescape(std::string_view text)
{
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string_view rest = text.substr(i);
        if (rest[0] != '\\') {
            s += rest[0];
        } else if (rest.starts_with("\\\\")) {
            s += '\\';
            i += 1;
        } else if (rest.size() >= 4 && rest[1] == 'x' && hex_digit(rest[2]) >= 0 && hex_digit(rest[3]) >= 0) {
            s += static_cast<char>(hex_digit(rest[2]) * 16 + hex_digit(rest[3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return s;
}

std::vector<Place> settings_in(const std::uint8_t *image, bool fips, bool frame)
{
    const Layout &layout = current_layout();
    const Field &unused_users = settings::user_layout(!fips_users(image, fips)).records;
    std::vector<Place> out;
    for (const Field &f : layout.fields) {
        if ((!frame && in_frame(f)) || f.name == std::string_view(unused_users.name))
            continue;
        if (f.type == FieldType::Record) {
            for (unsigned i = 0; i < f.count; ++i)
                for (const Field &r : records_of(layout, f))
                    out.push_back(Place{indexed(r.name, i), r, f.at(i), 0, nullptr});
        } else {
            for (unsigned i = 0; i < f.count; ++i)
                out.push_back(Place{f.count == 1 ? f.name : indexed(f.name, i), f, 0, i, nullptr});
        }
    }
    return out;
}

std::string export_text(const std::uint8_t *image, const TextOptions &o)
{
    std::string out = "# cfgimage export: layout version " + std::to_string(settings::kCurrentVersion) + ", " +
                      (fips_users(image, o.fips) ? "FIPS" : "standard") + " user table, secrets " +
                      (o.secrets ? "included" : "left out") + "\n";
    for (const Entry &e : entries(image, o.fips))
        if (o.secrets || !e.secret)
            out += e.name + "=" + e.value + "\n";
    return out;
}

std::vector<LineError> import_text(SettingsImage &image, std::string_view text, const TextOptions &o)
{
    std::vector<LineError> errors, ignored;
    std::vector<Line> lines = parse_lines(text, errors);
    // A record field names a place in the user table the image is read in,
    // which record 0's hash decides, and the lines may set that hash. Its
    // bytes are the same in both tables, so a first pass settles it; the
    // second resolves every line in the image the lines leave.
    SettingsImage trial = image, result = image;
    apply(trial, trial, lines, o.fips, ignored);
    std::vector<std::optional<Place>> places = apply(result, trial, lines, o.fips, errors);
    // What the image holds already is not refused again, so that a
    // module's own settings always go back in.
    std::vector<Place> changed;
    std::vector<unsigned> changed_line;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!places[i])
            continue;
        const Place &p = *places[i];
        if (std::optional<std::string> why = other_user_table(p, result.data(), o.fips)) {
            errors.push_back({lines[i].number, *why});
        } else if (format_place(image.data(), p) != format_place(result.data(), p)) {
            changed.push_back(p);
            changed_line.push_back(lines[i].number);
        }
    }
    if (!o.force)
        for (const Refusal &r : edit_refusals(image.data(), result.data(), changed, o.fips, false))
            errors.push_back({changed_line.empty() ? 1u : changed_line[r.place], r.why});
    std::stable_sort(errors.begin(), errors.end(),
                     [](const LineError &a, const LineError &b) { return a.line < b.line; });
    if (errors.empty())
        image = result;
    return errors;
}

std::vector<Difference> diff_settings(const std::uint8_t *old_image, const std::uint8_t *new_image,
                                      const TextOptions &o)
{
    // The same names in both, but for the user table when the two are read
    // in different layouts: then the names of one side only come where
    // that side has them.
    std::vector<Entry> a = entries(old_image, o.fips), b = entries(new_image, o.fips);
    std::map<std::string, std::size_t> in_b;
    for (std::size_t k = 0; k < b.size(); ++k)
        in_b[b[k].name] = k;
    std::set<std::string> in_a;
    for (const Entry &e : a)
        in_a.insert(e.name);
    std::vector<Difference> out;
    std::size_t next = 0;
    auto new_only_until = [&](std::size_t end) {
        for (; next < end; ++next)
            if (!in_a.contains(b[next].name))
                out.push_back({b[next].name, std::nullopt, b[next].value, b[next].secret && !o.secrets});
    };
    for (const Entry &e : a) {
        auto k = in_b.find(e.name);
        if (k == in_b.end()) {
            out.push_back({e.name, e.value, std::nullopt, e.secret && !o.secrets});
            continue;
        }
        new_only_until(k->second);
        next = k->second + 1;
        if (e.value != b[k->second].value)  // the same name may be other bytes on each side
            out.push_back({e.name, e.value, b[k->second].value, (e.secret || b[k->second].secret) && !o.secrets});
    }
    new_only_until(b.size());
    return out;
}

std::string diff_text(const std::vector<Difference> &differences)
{
    auto side = [](const Difference &d, const std::optional<std::string> &v) {
        return !v ? "(none)" : d.hidden ? "(hidden)" : *v;
    };
    std::string out;
    for (const Difference &d : differences)
        out += d.name + ": " + side(d, d.old_value) + " -> " + side(d, d.new_value) + "\n";
    return out;
}

std::string diff_json(const std::vector<Difference> &differences)
{
    using json = nlohmann::ordered_json;
    json doc = json::object();
    for (const Difference &d : differences) {
        json pair = json::object();
        if (d.old_value)
            pair["old"] = d.hidden ? json(nullptr) : json(*d.old_value);
        if (d.new_value)
            pair["new"] = d.hidden ? json(nullptr) : json(*d.new_value);
        doc[d.name] = pair;
    }
    return doc.dump(2) + "\n";
}

} // namespace cfgimage
