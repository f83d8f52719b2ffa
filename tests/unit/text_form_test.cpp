// Settings as text over random images: what export writes, import puts
// back exactly, whatever bytes the texts hold and whichever user table
// either image is read in; a bad line changes nothing; diff names exactly
// the settings an import changed.
#include "tools/cfgimage/text_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

using namespace cfgimage;

namespace {

std::string hostile(std::mt19937 &rng, std::size_t most)
{
    std::string s(rng() % (most + 1), ' ');
    for (char &c : s)
        c = static_cast<char>(1 + rng() % 255);
    return s;
}

// Random bytes, then every text of the table the image is read in
// terminated; record 0's hash (the same bytes in both tables) picks it.
SettingsImage random_image(std::mt19937 &rng, bool fips, bool fips_hash)
{
    SettingsImage image;
    for (std::uint8_t &b : image)
        b = static_cast<std::uint8_t>(rng());
    const settings::UserLayout &users = settings::user_layout(false);
    std::uint8_t *admin = settings::record(image.data(), users.records, 0);
    settings::set_text(admin, users.hash, fips_hash ? "$5$" : "");
    for (const Place &p : settings_in(image.data(), fips))
        if (p.field.type == settings::FieldType::Text)
            settings::set_text(image.data() + p.base, p.field, hostile(rng, p.field.size - 1u), p.index);
    settings::set_text(admin, users.hash, (fips_hash ? "$5$" : "x") + hostile(rng, 20));
    return image;
}

std::map<std::string, std::string> values(const std::string &text)
{
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (std::size_t eq = line.find('='); !line.starts_with('#'))
            out[line.substr(0, eq)] = line.substr(eq + 1);
    return out;
}

const char *const kBadLines[] = {"rackName=0123456789012345678901234567890123", "noSuchField=1", "userName[99]=x",
                                 "dhcpFlag=0x100", "ipAddress=1.2.3", "rackName=a\\q", "rackName"};

TEST(TextForm, RoundTripOverRandomImages)
{
    std::mt19937 rng(23);
    for (int n = 0; n < (CFG_SLOW_BUILD ? 50 : 200); ++n) {
        bool fips = rng() % 4 == 0, fips_hash = rng() % 2 == 0;
        SettingsImage a = random_image(rng, fips, fips_hash), b = random_image(rng, fips, rng() % 2 == 0);
        const TextOptions all{true, fips, true};
        std::string text = export_text(a.data(), all);

        SettingsImage before = b;
        auto errors = import_text(b, text + kBadLines[n % std::size(kBadLines)] + "\n", all);
        ASSERT_EQ(errors.size(), 1u) << kBadLines[n % std::size(kBadLines)];
        EXPECT_EQ(errors[0].line, static_cast<unsigned>(std::count(text.begin(), text.end(), '\n') + 1));
        ASSERT_EQ(b, before);

        // In another order too: a late administrator's hash may switch the user table.
        std::string sorted;
        for (const auto &[name, value] : values(text))
            sorted += name + "=" + value + "\n";
        ASSERT_TRUE(import_text(b, n % 2 ? sorted : text, all).empty()) << n;
        EXPECT_TRUE(diff_settings(a.data(), b.data(), all).empty()) << n;
        ASSERT_EQ(export_text(b.data(), all), text) << n;

        // Some lines of a third image read in the same table.
        std::string part, c_text = export_text(random_image(rng, fips, fips_hash).data(), all);
        std::vector<std::string> changed;
        std::map<std::string, std::string> old = values(text);
        for (const auto &line : values(c_text))
            if (rng() % 8 == 0) {
                part += line.first + "=" + line.second + "\n";
                if (old[line.first] != line.second)
                    changed.push_back(line.first);
            }
        ASSERT_TRUE(import_text(b, part, all).empty());
        std::vector<std::string> named;
        for (const Difference &d : diff_settings(a.data(), b.data(), all))
            named.push_back(d.name);
        std::sort(named.begin(), named.end());
        EXPECT_EQ(named, changed) << n;
    }
}

} // namespace
