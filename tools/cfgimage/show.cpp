#include "tools/cfgimage/show.h"

#include "tools/cfgimage/fields.h"

#include <algorithm>
#include <cstdio>

namespace cfgimage {

using json = nlohmann::ordered_json;
using settings::FieldType;

namespace {

bool is_plain_number(const Field &f)
{
    switch (f.type) {
    case FieldType::U8:
    case FieldType::U16:
    case FieldType::U32:
    case FieldType::I16:
    case FieldType::I32:
        return !is_mask(f);
    default:
        return false;
    }
}

// Element `index` of field `f` of the record (or image) that starts at
// byte `base` of the image.
json value_of(const HashBytes &hashes, const std::uint8_t *image, std::size_t base, const Field &f, unsigned index,
              const ShowOptions &o)
{
    if (!o.secrets && (is_secret(f) || hashes.overlap(base + f.at(index), f.size)))
        return nullptr;
    std::string text = format_value(image + base, f, index);
    if (is_plain_number(f))
        return std::stoll(text);
    return text;
}

// How many records of a table the files are made from: its counter,
// bounded by the table.
unsigned records_in_use(const Layout &layout, const std::uint8_t *image, const Field &table)
{
    const char *counter = std::string_view(table.name) == "ldapGroupRecords" ? "ldapGroupCount" : "userCount";
    const Field *count = settings::find_field(layout.fields, counter);
    if (count == nullptr)
        return 0;
    return std::min<unsigned>(settings::get_u(image, *count), table.count);
}

json table_of(const Layout &layout, const HashBytes &hashes, const std::uint8_t *image, const Field &table,
              const ShowOptions &o)
{
    json rows = json::array();
    unsigned n = records_in_use(layout, image, table);
    for (unsigned i = 0; i < n; ++i) {
        json row = json::object();
        for (const Field &f : records_of(layout, table))
            row[f.name] = value_of(hashes, image, table.at(i), f, 0, o);
        rows.push_back(row);
    }
    return rows;
}

json decode_report(const Decoded &d)
{
    json corrected = json::object();
    for (std::size_t b = 0; b < d.corrected.size(); ++b)
        if (d.corrected[b] > 0)
            corrected[std::to_string(b)] = d.corrected[b];
    return {{"codewords", d.corrected.size()},
            {"correctedBytes", d.corrected_total},
            {"corrected", corrected},
            {"uncorrectable", d.uncorrectable}};
}

json fields_of(const Layout &layout, const std::uint8_t *image, bool fips_table, const ShowOptions &o)
{
    json fields = json::object();
    HashBytes hashes(layout, image);
    std::string_view skipped = fips_table ? "userRecords" : "userRecordsFips";
    for (const Field &f : layout.fields) {
        if (f.end() > settings::kImageSize || f.name == skipped)
            continue;  // beyond the image, or the user layout not in use
        if (f.type == FieldType::Record) {
            fields[f.name] = table_of(layout, hashes, image, f, o);
        } else if (f.count == 1) {
            fields[f.name] = value_of(hashes, image, 0, f, 0, o);
        } else {
            json list = json::array();
            for (unsigned i = 0; i < f.count; ++i)
                list.push_back(value_of(hashes, image, 0, f, i, o));
            fields[f.name] = list;
        }
    }
    return fields;
}

std::string scalar_text(const json &v)
{
    if (v.is_null())
        return "(hidden)";
    if (v.is_string())
        return printable(v.get<std::string>());
    return v.dump();
}

std::string padded(std::string s, std::size_t width)
{
    if (s.size() < width)
        s.append(width - s.size(), ' ');
    return s;
}

void append_table(std::string &out, const std::string &name, const json &rows)
{
    out += "  " + name + ": " + std::to_string(rows.size()) + " records\n";
    if (rows.empty())
        return;
    std::vector<std::string> columns{"#"};
    for (const auto &[key, value] : rows[0].items())
        columns.push_back(key);
    std::vector<std::vector<std::string>> cells{columns};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::string> line{std::to_string(i)};
        for (const auto &[key, value] : rows[i].items())
            line.push_back(scalar_text(value));
        cells.push_back(line);
    }
    std::vector<std::size_t> width(columns.size(), 0);
    for (const auto &line : cells)
        for (std::size_t c = 0; c < line.size(); ++c)
            width[c] = std::max(width[c], line[c].size());
    for (const auto &line : cells) {
        std::string text = "    ";
        for (std::size_t c = 0; c < line.size(); ++c)
            text += c + 1 < line.size() ? padded(line[c], width[c] + 2) : line[c];
        out += text + "\n";
    }
}

void append_value(std::string &out, const std::string &name, const json &v)
{
    out += "  " + padded(name, 28) + " " + scalar_text(v) + "\n";
}

} // namespace

std::string printable(std::string_view text)
{
    std::string s;
    char esc[5];
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '\\') {
            s += "\\\\";
        } else if (u < 0x20 || u >= 0x7f) {
            std::snprintf(esc, sizeof esc, "\\x%02x", u);
            s += esc;
        } else {
            s += c;
        }
    }
    return s;
}

json show_document(const Decoded &d, const ShowOptions &o)
{
    const std::uint8_t *image = d.image.data();
    unsigned version = settings::get_u(image, settings::F("version"));
    json doc = json::object();
    doc["decode"] = decode_report(d);
    doc["magic"] = printable(std::string_view(reinterpret_cast<const char *>(image), 3));
    doc["magicAccepted"] = magic_accepted(image);
    doc["version"] = version;
    const Layout *layout = layout_for(version);
    if (layout == nullptr) {
        doc["note"] = "no field table describes version " + std::to_string(version);
        return doc;
    }
    bool fips_table = !layout->fips_user_records.empty() && fips_users(image, o.fips);
    if (!layout->fips_user_records.empty())
        doc["userLayout"] = fips_table ? "fips" : "standard";
    doc["fields"] = fields_of(*layout, image, fips_table, o);
    if (!layout->bits.empty()) {
        json bits = json::object();
        for (const Bit &b : layout->bits)
            bits[b.name] = settings::get_bit(image, b) ? 1 : 0;
        doc["bits"] = bits;
    }
    return doc;
}

std::string show_text(const json &doc)
{
    const json &decode = doc["decode"];
    std::string out = "codewords: " + decode["codewords"].dump() + ", bytes corrected: " +
                      decode["correctedBytes"].dump();
    for (const auto &[block, n] : decode["corrected"].items())
        out += (block == decode["corrected"].begin().key() ? " (block " : ", block ") + block + ": " + n.dump();
    out += decode["corrected"].empty() ? "" : ")";
    out += ", uncorrectable: " + (decode["uncorrectable"].empty() ? std::string("none")
                                                                  : decode["uncorrectable"].dump());
    out += "\nmagic: " + doc["magic"].get<std::string>() +
           (doc["magicAccepted"].get<bool>() ? " (accepted)" : " (not accepted)") +
           "\nversion: " + doc["version"].dump() + "\n";
    if (doc.contains("note"))
        return out + "note: " + doc["note"].get<std::string>() + "\n";
    if (doc.contains("userLayout"))
        out += "user table layout: " + doc["userLayout"].get<std::string>() + "\n";
    out += "fields:\n";
    for (const auto &[name, v] : doc["fields"].items()) {
        if (v.is_array() && (v.empty() || v[0].is_object())) {
            append_table(out, name, v);
        } else if (v.is_array()) {
            for (std::size_t i = 0; i < v.size(); ++i)
                append_value(out, name + "[" + std::to_string(i) + "]", v[i]);
        } else {
            append_value(out, name, v);
        }
    }
    if (doc.contains("bits")) {
        out += "bits:\n";
        for (const auto &[name, v] : doc["bits"].items())
            append_value(out, name, v);
    }
    return out;
}

} // namespace cfgimage
