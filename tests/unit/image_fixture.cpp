#include "image_fixture.h"

#include "settings/layouts_old.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace settings;

namespace {

// A layout: its fields and the fields of each of its user records.
struct Layout {
    std::span<const Field> fields, users;
};

Layout layout_named(const std::string &name)
{
    if (name != "19" && name != "20" && name != "40")
        throw std::runtime_error("unknown layout " + name);
    if (name == "19")
        return {kLayout19, kUserRecord19};
    return {name == "20" ? std::span<const Field>(kLayout20) : kLayout40, kUserRecordStd};
}

std::span<const Field> record_table(const Layout &layout, std::string_view records)
{
    if (records == "userRecords")
        return layout.users;
    return records == "userRecordsFips" ? std::span<const Field>(kUserRecordFips) : kLdapGroupRecord;
}

const Field &must_find(std::span<const Field> table, std::string_view name)
{
    const Field *f = find_field(table, name);
    if (!f)
        throw std::runtime_error("unknown field " + std::string(name));
    return *f;
}

std::vector<std::uint8_t> value_bytes(const std::string &value, Field f, unsigned index)
{
    if (value.front() == '"') {
        std::string text = value.substr(1, value.rfind('"') - 1);
        if (std::size_t at = text.find("%d"); at != std::string::npos)
            text.replace(at, 2, std::to_string(index));
        return {text.begin(), text.end()};
    }
    std::vector<std::uint8_t> out;
    if (value.starts_with("hex:")) {
        for (std::size_t i = 4; i + 1 < value.size(); i += 2)
            out.push_back(static_cast<std::uint8_t>(std::stoul(value.substr(i, 2), nullptr, 16)));
        return out;
    }
    if (value.starts_with("fill:"))
        return std::vector<std::uint8_t>(f.size, static_cast<std::uint8_t>(std::stoul(value.substr(5), nullptr, 16)));
    std::size_t used = 0;  // a number: N, N+i or N*i
    long long n = std::stoll(value, &used, 0);
    std::string rest = value.substr(used);
    if ((!rest.empty() && rest != "+i" && rest != "*i") || f.size > 4)
        throw std::runtime_error("bad number " + value);
    n = rest == "+i" ? n + index : rest == "*i" ? n * index : n;
    out.resize(f.size);
    for (std::size_t i = f.size; i-- > 0; n >>= 8)
        out[i] = static_cast<std::uint8_t>(n);
    return out;
}

// "name[index].sub value": index a number or "*" (every element).
void apply_setting(std::vector<std::uint8_t> &image, Layout &layout, const std::string &setting)
{
    std::size_t space = setting.find(' ');
    std::string name = setting.substr(0, space), value = setting.substr(space + 1), sub, index = "0";
    if (name == "layout") {
        layout = layout_named(value);
        return;
    }
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
    for (unsigned i = first; i <= (index == "*" ? f.count - 1u : first); ++i) {
        Field target = sub.empty() ? f : must_find(record_table(layout, name), sub);
        std::size_t at = f.at(i) + (sub.empty() ? 0 : target.offset);
        std::vector<std::uint8_t> bytes = value_bytes(value, target, i);
        if (i >= f.count || bytes.size() > target.size || at + target.size > image.size())
            throw std::runtime_error("value does not fit " + setting);
        std::memset(image.data() + at, 0, target.size);
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(at));
    }
}

// A value as apply_setting reads it back: numbers in decimal (32-bit masks
// in hexadecimal), printable texts between quotes, other bytes as hex:.
std::string value_text(const std::uint8_t *p, Field f)
{
    f.offset = 0;  // p is the element itself
    char text[16] = {};
    if (f.type == T::U32)
        std::snprintf(text, sizeof text, "0x%X", get_u(p, f));
    else if (f.type == T::U8 || f.type == T::U16)
        std::snprintf(text, sizeof text, "%u", get_u(p, f));
    else if (f.type == T::I16 || f.type == T::I32)
        std::snprintf(text, sizeof text, "%d", get_i(p, f));
    if (text[0] != '\0')
        return text;
    std::string bytes(p, p + f.size);
    bytes.erase(bytes.find_last_not_of('\0') + 1);
    bool plain = (f.type == T::Text || f.type == T::Bytes) && bytes.find("; ") == std::string::npos &&
                 bytes.find("%d") == std::string::npos;
    for (unsigned char c : bytes)
        plain = plain && c >= 0x20 && c < 0x7F;
    if (plain)
        return "\"" + bytes + "\"";
    std::string hex = "hex:";
    for (unsigned char c : bytes) {
        std::snprintf(text, sizeof text, "%02x", c);
        hex += text;
    }
    return hex;
}

void describe_element(std::string &out, const std::string &name, const std::uint8_t *p, Field f)
{
    if (std::any_of(p, p + f.size, [](std::uint8_t b) { return b != 0; }))
        out += name + " " + value_text(p, f) + "\n";
}

} // namespace

void patch_image(std::vector<std::uint8_t> &image, const std::string &lines, const std::string &origin)
{
    Layout layout = layout_named("40");
    std::istringstream in(lines);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::size_t start = line.find_first_not_of(' ');
        try {
            while (start != std::string::npos && line[start] != '#') {  // "; " separates settings
                std::size_t end = line.find("; ", start);
                apply_setting(image, layout, line.substr(start, end - start));
                start = end == std::string::npos ? end : end + 2;
            }
        } catch (const std::exception &e) {
            throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + e.what());
        }
    }
}

std::string describe_image(const std::uint8_t *image, bool fips)
{
    std::string out;
    for (const Field &f : kLayout40) {
        bool record = f.type == T::Record;
        if (std::string_view(f.name) == (fips ? "userRecords" : "userRecordsFips"))
            continue;
        for (unsigned i = 0; i < f.count; ++i) {
            std::string name = f.name + (f.count > 1 ? "[" + std::to_string(i) + "]" : std::string());
            if (!record)
                describe_element(out, name, image + f.at(i), f);
            for (const Field &s : record ? record_table({kLayout40, kUserRecordStd}, f.name) : std::span<const Field>())
                describe_element(out, name + "." + s.name, image + f.at(i) + s.offset, s);
        }
    }
    return out;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
