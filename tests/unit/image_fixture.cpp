#include "image_fixture.h"

#include "settings/layouts_old.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace settings;

namespace {

struct Layout {
    std::span<const Field> fields;
    std::span<const Field> users;
};

Layout layout_named(const std::string &name)
{
    if (name == "19")
        return {kLayout19, kUserRecord19};
    if (name == "20")
        return {kLayout20, kUserRecordStd};
    if (name == "40")
        return {kLayout40, kUserRecordStd};
    throw std::runtime_error("unknown layout " + name);
}

std::span<const Field> record_table(const Layout &layout, std::string_view records)
{
    if (records == "userRecords")
        return layout.users;
    if (records == "userRecordsFips")
        return kUserRecordFips;
    if (records == "ldapGroupRecords")
        return kLdapGroupRecord;
    throw std::runtime_error("no record table for " + std::string(records));
}

std::string with_index(std::string text, unsigned index)
{
    std::size_t at = text.find("%d");
    if (at != std::string::npos)
        text.replace(at, 2, std::to_string(index));
    return text;
}

std::vector<std::uint8_t> value_bytes(const std::string &value, Field f, unsigned index)
{
    if (value.front() == '"') {
        std::string text = with_index(value.substr(1, value.rfind('"') - 1), index);
        return {text.begin(), text.end()};
    }
    if (value.rfind("hex:", 0) == 0) {
        std::vector<std::uint8_t> out;
        for (std::size_t i = 4; i + 1 < value.size(); i += 2)
            out.push_back(static_cast<std::uint8_t>(std::stoul(value.substr(i, 2), nullptr, 16)));
        return out;
    }
    if (value.rfind("fill:", 0) == 0)
        return std::vector<std::uint8_t>(f.size, static_cast<std::uint8_t>(std::stoul(value.substr(5), nullptr, 16)));
    // A number: N, N+i or N*i.
    std::size_t used = 0;
    long long n = std::stoll(value, &used, 0);
    std::string rest = value.substr(used);
    if (rest == "+i")
        n += index;
    else if (rest == "*i")
        n *= index;
    else if (!rest.empty())
        throw std::runtime_error("bad number " + value);
    if (f.size > 4)
        throw std::runtime_error("number for a wide field");
    std::vector<std::uint8_t> out(f.size);
    auto v = static_cast<unsigned long long>(n);
    for (std::size_t i = f.size; i-- > 0; v >>= 8)
        out[i] = static_cast<std::uint8_t>(v);
    return out;
}

void place(std::vector<std::uint8_t> &image, std::size_t at, Field f, const std::vector<std::uint8_t> &bytes)
{
    if (bytes.size() > f.size || at + f.size > image.size())
        throw std::runtime_error("value does not fit " + std::string(f.name));
    std::memset(image.data() + at, 0, f.size);
    if (!bytes.empty())
        std::memcpy(image.data() + at, bytes.data(), bytes.size());
}

const Field &must_find(std::span<const Field> table, std::string_view name)
{
    const Field *f = find_field(table, name);
    if (!f)
        throw std::runtime_error("unknown field " + std::string(name));
    return *f;
}

void apply_line(std::vector<std::uint8_t> &image, const Layout &layout, const std::string &target,
                const std::string &value)
{
    std::string name = target, sub, index = "0";
    if (std::size_t dot = name.find('.'); dot != std::string::npos) {
        sub = name.substr(dot + 1);
        name.resize(dot);
    }
    if (std::size_t open = name.find('['); open != std::string::npos) {
        index = name.substr(open + 1, name.find(']') - open - 1);
        name.resize(open);
    }
    const Field &f = must_find(layout.fields, name);
    unsigned first = index == "*" ? 0 : static_cast<unsigned>(std::stoul(index));
    unsigned last = index == "*" ? f.count - 1u : first;
    if (last >= f.count)
        throw std::runtime_error("index out of range");
    for (unsigned i = first; i <= last; ++i) {
        if (sub.empty()) {
            place(image, f.at(i), f, value_bytes(value, f, i));
        } else {
            const Field &s = must_find(record_table(layout, name), sub);
            place(image, f.at(i) + s.offset, s, value_bytes(value, s, i));
        }
    }
}

void apply_setting(std::vector<std::uint8_t> &image, Layout &layout, const std::string &setting)
{
    std::size_t space = setting.find(' ');
    std::string target = setting.substr(0, space);
    std::string value = space == std::string::npos ? "" : setting.substr(space + 1);
    if (target == "layout")
        layout = layout_named(value);
    else
        apply_line(image, layout, target, value);
}

void apply_text(std::vector<std::uint8_t> &image, std::istream &in, const std::string &origin)
{
    Layout layout = layout_named("40");
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || line[start] == '#')
            continue;
        try {
            // "; " separates settings that share a line.
            for (std::size_t end; start != std::string::npos; start = end == std::string::npos ? end : end + 2) {
                end = line.find("; ", start);
                apply_setting(image, layout, line.substr(start, end == std::string::npos ? end : end - start));
            }
        } catch (const std::exception &e) {
            throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + e.what());
        }
    }
}

} // namespace

void patch_image_file(std::vector<std::uint8_t> &image, const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    apply_text(image, in, path);
}

std::vector<std::uint8_t> load_image_fixture(const std::string &path, std::size_t size)
{
    std::vector<std::uint8_t> image(size, 0);
    patch_image_file(image, path);
    return image;
}

void patch_image(std::vector<std::uint8_t> &image, const std::string &lines)
{
    std::istringstream in(lines);
    apply_text(image, in, "patch");
}

std::string field_at(std::size_t offset)
{
    for (const Field &f : kLayout40)
        if (offset >= f.offset && offset < f.end() && std::string_view(f.name) != "userRecordsFips")
            return std::string(f.name) + "+" + std::to_string(offset - f.offset);
    return "?";
}
