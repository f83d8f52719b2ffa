// What no written file shows whole: which user layout a run reads, the
// enclosure-name escaping that other components of the module call, the
// temporary copy's name when a killed run left one behind, and which file
// passwd's copy may finish.
#include "store/replace.h"
#include "writers/compose.h"
#include "settings/enc_name.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace settings;

TEST(UserLayout, FipsByTheModeOrByRecordZerosHashAndTheAdministratorPinnedThere)
{
    const UserLayout *std_layout = &user_layout(false), *fips = &user_layout(true);
    struct Row {
        const char *hash;
        bool mode, hash_rule;
        const UserLayout *chosen;
        bool by_hash;
    };
    const Row rows[] = {
        {"$5$salt$hash", true, true, fips, false},       {"$5$salt$hash", false, true, fips, true},
        {"$5$salt$hash", false, false, std_layout, false},  // the bay file: the mode alone
        {"$6$salt$hash", false, true, std_layout, false}, {"$5", false, true, std_layout, false},
        {"5$5$", false, true, std_layout, false},          {"", false, true, std_layout, false},
    };
    for (const Row &r : rows) {
        std::vector<std::uint8_t> image(kImageSize);
        set_text(record(image.data(), std_layout->records, 0), std_layout->hash, r.hash);
        LayoutChoice c = choose_user_layout(image.data(), r.mode, r.hash_rule);
        EXPECT_TRUE(c.layout == r.chosen && c.by_hash == r.by_hash) << r.hash << r.mode << r.hash_rule;
    }

    std::vector<std::uint8_t> image(kImageSize);
    std::uint8_t *rec = record(image.data(), fips->records, 0);
    set_u(image.data(), F("userCount"), 1);
    set_text(rec, fips->name, "root0");
    set_text(rec, fips->hash, "$5$x");
    set_u(rec, fips->id, 7);
    set_u(rec, fips->privilege, 3);
    OutputBuffer group;  // record 0 is an administrator, pinned or not
    LogEntries log;
    compose_group(image.data(), *fips, group, log);
    EXPECT_NE(group.text().find("\nadmin::0:root0,"), std::string_view::npos) << group.text();
    pin_admin_record(image.data(), *fips);
    EXPECT_EQ(get_u(rec, fips->id), 1u);
    EXPECT_EQ(get_u(rec, fips->privilege), 0u);
    EXPECT_EQ(get_text(rec, fips->hash), "$5$x");
}

TEST(EncName, EscapedWithinTheCallersBytesAndUnescapedBack)
{
    struct Row {
        const char *name;     // the caller's 33 bytes (a longer text fills them without a NUL)
        const char *escaped;  // null: unescape `name` itself
        const char *back;
    };
    const Row rows[] = {
        {"a-b_C9 x.y\\.z\xC3\xA9", "a-b_C9\\ x\\.y\\\\\\.z\\\xC3\\\xA9", "a-b_C9 x.y\\.z\xC3\xA9"},
        // Only 32 characters count, and a pair that would not fit is left out whole.
        {"a b c d e f g h i j k l m n o p q", "a\\ b\\ c\\ d\\ e\\ f\\ g\\ h\\ i\\ j\\ k", "a b c d e f g h i j k"},
        {"", "", ""},
        {"a\\b\\\\c\\", nullptr, "ab\\c"},  // stray backslashes dropped
    };
    for (const Row &r : rows) {
        char buffer[33 + 8];
        std::memset(buffer, 'G', sizeof buffer);
        std::memcpy(buffer, r.name, std::min<std::size_t>(std::strlen(r.name) + 1, 33));
        if (r.escaped != nullptr) {
            EXPECT_STREQ(escape_enc_name(buffer), r.escaped);
        }
        EXPECT_STREQ(unescape_enc_name(buffer), r.back) << r.name;
        EXPECT_EQ(std::string(buffer + 33, 8), std::string(8, 'G')) << r.name;
    }
    EXPECT_EQ(escape_enc_name(nullptr), nullptr);
    EXPECT_EQ(unescape_enc_name(nullptr), nullptr);
}

// Process ids come round again at every boot: a copy that a killed run left
// under this run's id is stepped over, not a reason to fail.
TEST(TempFile, StepsOverALeftoverUnderTheSameProcessId)
{
    char dir[] = "/tmp/tempfile.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::ofstream(std::string(dir) + "/.env." + std::to_string(::getpid()) + ".0") << "stale";
    platform::Fd fd(::open(dir, O_RDONLY | O_DIRECTORY));
    {
        TempFile copy(fd.get(), "env", true);
        EXPECT_EQ(copy.error(), 0);
        EXPECT_EQ(copy.fill("new", 0640, nullptr), 0);
        EXPECT_EQ(copy.rename_over("env"), 0);
    }
    EXPECT_EQ(std::filesystem::file_size(std::string(dir) + "/env"), 3u);
    std::filesystem::remove_all(dir);
}

// passwd's copy finishes a write only over a file that write could have left:
// each byte the old or the new text's, at a length between the two texts'
// (a longer text grows the file as it goes) or the new one's (cut).
TEST(Copy, AFileIsATearOfTheOldAndNewTextsOnlyAsTheWriteCouldLeaveIt)
{
    const struct {
        const char *file, *old_text, *new_text;
        bool torn;
    } rows[] = {
        {"abcd", "abcd", "wxyz", true},  {"wxcd", "abcd", "wxyz", true}, {"axcz", "abcd", "wxyz", true},
        {"abqd", "abcd", "wxyz", false}, {"wx", "abcd", "wx", true},     {"wxc", "abcd", "wx", false},
        {"wxcd", "abcd", "wx", true},    {"ab", "ab", "wxyz", true},     {"wxy", "ab", "wxyz", true},
        {"w", "ab", "wxyz", false},      {"wxyzq", "ab", "wxyz", false}, {"", "", "", true},
    };
    for (const auto &r : rows) {
        std::string_view file = r.file, old_text = r.old_text, new_text = r.new_text;
        EXPECT_EQ(tear_length(static_cast<off_t>(file.size()), static_cast<off_t>(old_text.size()),
                              static_cast<off_t>(new_text.size())) &&
                      torn_piece(file, old_text, new_text),
                  r.torn)
            << r.file << " of " << r.old_text << " and " << r.new_text;
    }
}
