// Golden end-to-end cases: every folder here with a `cmd` file is one case
// (README.md describes the folder). Each runs in a fresh simulated module and
// is compared with what its expected/ folder holds; GOLDEN_UPDATE=1 rewrites
// those files from the actual run.
#include "e2e/sim_module.h"
#include "unit/image_fixture.h"

#include "settings/image.h"

#include <crypt.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(CFG_SOURCE_DIR) / "tests/golden";
constexpr time_t kOld = 1000;  // every file's time before the runs; a file they write gets a new one

// A case file's lines, without blank lines and "#" comments.
std::vector<std::string> lines_of(const fs::path &file)
{
    std::vector<std::string> lines;
    std::istringstream in(fs::exists(file) ? read_file(file) : "");
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

std::vector<std::string> words(const std::string &line)
{
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

void replace_all(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// Binary content as text: printable characters stand for themselves, "\xHH"
// for any other byte (a line ends after a NUL), "\{N*HH}" for N bytes HH.
std::string escape(const std::string &bytes)
{
    std::string out;
    char buf[40];
    for (std::size_t i = 0, run; i < bytes.size(); i += run) {
        auto c = static_cast<unsigned char>(bytes[i]);
        run = std::min(bytes.find_first_not_of(bytes[i], i), bytes.size()) - i;
        if (run < 8)
            run = 1;
        if (run > 1)
            std::snprintf(buf, sizeof buf, "\\{%zu*%02x}\n", run, c);
        else if (c < 0x20 || c >= 0x7F || c == '\\')
            std::snprintf(buf, sizeof buf, c ? "\\x%02x" : "\\x%02x\n", c);
        else
            std::snprintf(buf, sizeof buf, "%c", c);
        out += buf;
    }
    return out;
}

std::string unescape(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else if (text.compare(i, 2, "\\{") == 0) {
            std::size_t star = text.find('*', i);
            out.append(std::stoul(text.substr(i + 2)), static_cast<char>(std::stoi(text.substr(star + 1, 2), nullptr, 16)));
            i = text.find('}', i);
        } else if (text[i] != '\n') {
            out += text[i];
        }
    }
    return out;
}

// /dev/env from `image`: the settings fields (an "include FILE" line reads
// FILE's), encoded with the pad as given, then "raw BLOCK:BYTE+COUNT xor HH"
// lines that flip bits on the device.
std::string device_bytes(const fs::path &file)
{
    std::string fields, raw(kRawImageSize, '\0');
    for (const std::string &line : lines_of(file))
        fields += line.starts_with("raw ")       ? "\n"
                  : line.starts_with("include ") ? read_file(file.parent_path() / line.substr(8)) + "\n"
                                                 : line + "\n";
    std::vector<std::uint8_t> image(settings::kImageSize);
    patch_image(image, fields, file.string());
    auto *codeword = reinterpret_cast<unsigned char *>(raw.data());
    for (std::size_t b = 0; b < kNvramBlocks; ++b, codeword += kRsN) {
        std::copy_n(image.begin() + static_cast<long>(b * kRsK), kRsK, codeword);
        rs_encode(codeword, codeword + kRsK);
    }
    std::size_t block = 0, byte = 0, count = 0;
    unsigned flip = 0;
    for (const std::string &line : lines_of(file)) {
        if (line.starts_with("raw ") && std::sscanf(line.c_str(), "raw %zu:%zu+%zu xor %x", &block, &byte, &count, &flip) != 4)
            throw std::runtime_error(file.string() + ": " + line);
        for (std::size_t at = block * kRsN + byte; line.starts_with("raw ") && at < block * kRsN + byte + count; ++at)
            raw.at(at) = static_cast<char>(raw.at(at) ^ flip);
    }
    return raw;
}

// How the case's commands run.
struct Runs {
    std::string password;  // the blank module's ("" without one)
    long limit = -1;       // file size limit
    unsigned seconds = 20;
    int held = -1;         // the settings lock, held by the test while the commands run
    pid_t busy = -1;       // a program running from a file of the module
};

// The module before the runs: `setup` steps, then before/, then `image`.
Runs prepare(const SimModule &m, const fs::path &dir)
{
    Runs runs;
    for (const std::string &line : lines_of(dir / "setup")) {
        std::vector<std::string> w = words(line);
        w.resize(3);
        if (w[0] == "blank") {
            runs.password = w[1].empty() ? "Adm1n!pw" : w[1];
            m.make_blank(runs.password);
        } else if (w[0] == "limit") {
            runs.limit = std::stol(w[1]);
        } else if (w[0] == "hold-lock") {  // the commands wait for it in vain: stopped after 2 s
            runs.held = ::open(m.at("/ramdisk/.env_lock").c_str(), O_CREAT | O_RDONLY, 0666);
            ::flock(runs.held, LOCK_EX);
            runs.seconds = 2;
        } else if (w[0] == "busy") {  // a running program: it reads, but opening it for writing fails
            fs::copy_file("/bin/sleep", m.at(w[1]), fs::copy_options::overwrite_existing);
            if ((runs.busy = ::fork()) == 0)
                ::_exit(::execl(m.at(w[1]).c_str(), "sleep", "60", nullptr));
            std::error_code ec;
            for (int i = 0; i < 5000 && fs::read_symlink("/proc/" + std::to_string(runs.busy) + "/exe", ec) != m.at(w[1]); ++i)
                ::usleep(1000);
        } else if (w[0] == "remove" || w[0] == "mkdir" || w[0] == "link") {
            fs::remove_all(m.at(w[1]));
            if (w[0] == "mkdir")
                fs::create_directories(m.at(w[1]));
            if (w[0] == "link")
                fs::create_symlink(w[2], m.at(w[1]));
        } else {
            throw std::runtime_error("unknown setup step: " + line);
        }
    }
    if (fs::exists(dir / "before"))
        for (const auto &e : fs::recursive_directory_iterator(dir / "before")) {
            std::string p = "/" + fs::relative(e.path(), dir / "before").string();
            if (e.is_directory())
                fs::create_directories(m.at(p));
            else if (p.ends_with(".esc"))
                m.write(p.substr(0, p.size() - 4), unescape(read_file(e.path())));
            else
                m.write(p, read_file(e.path()));
        }
    if (fs::exists(dir / "image"))
        m.write("/dev/env", device_bytes(dir / "image"));
    return runs;
}

// Every file of the module: "+ MODE path" created by the runs, "* path"
// written by them, "  path" untouched.
std::string listing(const SimModule &m, const std::set<std::string> &before)
{
    std::map<std::string, std::string> lines;
    for (const auto &e : fs::recursive_directory_iterator(m.root())) {
        std::string p = e.path().lexically_relative(m.root()).string();
        struct stat st {};
        if (::lstat(e.path().c_str(), &st) != 0 || S_ISDIR(st.st_mode) || p.starts_with(".run"))
            continue;
        char mode[16];
        std::snprintf(mode, sizeof mode, "+ %04o ", st.st_mode & 07777);
        bool link = S_ISLNK(st.st_mode);
        lines[p] = !before.contains(p) ? mode : st.st_mtim.tv_sec != kOld && !link ? "* " : "  ";
        lines[p] += p + (link ? " -> " + fs::read_symlink(e.path()).string() : "") + "\n";
    }
    std::string out;
    for (const auto &[p, line] : lines)
        out += line;
    return out;
}

// /dev/env decoded, as a field list ("" when the device is not there), and
// the texts that differ from run to run: the administrator's hash of the
// blank module's password, a random LCD PIN in FIPS mode.
std::string decoded_device(const SimModule &m, const std::string &password,
                           std::vector<std::pair<std::string, std::string>> &masks)
{
    std::vector<std::uint8_t> raw, image(settings::kImageSize);
    if (fs::is_regular_file(m.at("/dev/env")))  // a FIFO would never be read to its end
        raw = m.read_bytes("/dev/env");
    if (raw.size() != kRawImageSize)
        return "";
    if (int block = decode_raw_image(raw.data(), image.data()).failed_block; block >= 0)
        return "uncorrectable block " + std::to_string(block) + "\n";
    bool fips = m.read("/proc/sys/crypto/fips_enabled").starts_with("1");
    const settings::UserLayout &u = settings::user_layout(fips);
    std::string hash(settings::get_text(settings::record(image.data(), u.records, 0), u.hash));
    const char *again = crypt(password.c_str(), hash.c_str());
    if (!password.empty() && hash.size() > 1 && again && hash == again)
        masks.emplace_back(hash, "<" + hash.substr(0, hash[0] == '$' ? hash.find('$', 1) + 1 : 0) + "hash of " + password + ">");
    std::string pin(settings::get_text(image.data(), settings::F("lcdPin")));
    if (fips && pin.size() == 6)
        masks.emplace_back(pin, "<random pin>");
    return describe_image(image.data(), fips);
}

std::string prefixed(const char *prefix, const std::string &text)
{
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out += prefix + line + (in.eof() ? " (no newline)\n" : "\n");
    return out;
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, Case)
{
    const fs::path dir = kCases / GetParam(), expected = dir / "expected";
    ::umask(0);  // modes in the listing as the tool asks for them
    SimModule m("';echo${IFS}injected>&2;'");  // a root no shell command may be built around
    const Runs runs = prepare(m, dir);
    std::set<std::string> before;
    for (const auto &e : fs::recursive_directory_iterator(m.root())) {
        before.insert(e.path().lexically_relative(m.root()).string());
        struct timespec old[2] = {{kOld, 0}, {kOld, 0}};
        ::utimensat(AT_FDCWD, e.path().c_str(), old, AT_SYMLINK_NOFOLLOW);
    }
    std::map<std::string, std::string> outputs;
    for (const std::string &line : lines_of(dir / "cmd")) {
        std::string command = line;
        replace_all(command, "<root>", m.root().string());
        std::vector<std::string> args = words(command), env;
        std::transform(args.begin(), args.end(), args.begin(), unescape);
        for (; args.front().find('=') != std::string::npos; args.erase(args.begin()))
            env.push_back(args.front());
        RunResult r = m.run(args.front(), std::vector<std::string>(args.begin() + 1, args.end()), runs.limit, runs.seconds, env);
        outputs["transcript"] += "$ " + line + "\n" + prefixed("1| ", r.out) + prefixed("2| ", r.err) + "= " +
                                 std::to_string(r.status) + "\n";
    }
    ::close(runs.held);
    if (runs.busy > 0 && ::kill(runs.busy, SIGKILL) == 0)
        ::waitpid(runs.busy, nullptr, 0);
    outputs["files"] = listing(m, before);
    std::vector<std::pair<std::string, std::string>> masks = {{m.root().string(), "<root>"}, {bin_path(""), ""}};
    if (std::string env = decoded_device(m, runs.password, masks); !env.empty())
        outputs["env"] = env;

    // The transcript and what expected/ holds are compared ("env" stands for
    // /dev/env decoded, "files" for the listing).
    const char *update = std::getenv("GOLDEN_UPDATE");
    std::set<std::string> pinned = {"transcript"};
    if (fs::exists(expected))
        for (const auto &e : fs::recursive_directory_iterator(expected))
            if (e.is_regular_file())
                pinned.insert(fs::relative(e.path(), expected).string());
    for (const std::string &name : pinned) {
        std::string file = name.ends_with(".esc") ? name.substr(0, name.size() - 4) : name;
        std::string actual = outputs.contains(file) ? outputs[file] : m.exists("/" + file) ? m.read("/" + file) : "(missing)\n";
        actual = name.ends_with(".esc") ? escape(actual) : actual;
        for (const auto &[from, to] : masks)
            replace_all(actual, from, to);
        // The debug log names each entry's source line; edits elsewhere move it.
        actual = std::regex_replace(actual, std::regex("(^|\n)(\\w+):[0-9]+ "), "$1$2:<line> ");
        if (update) {
            fs::create_directories((expected / name).parent_path());
            std::ofstream(expected / name, std::ios::binary | std::ios::trunc) << actual;
        } else {
            EXPECT_EQ(read_file(expected / name), actual) << GetParam() << ": " << name;
        }
    }
    EXPECT_TRUE(m.lock_is_free());
}

std::vector<std::string> case_names()
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(kCases))
        if (fs::exists(e.path() / "cmd"))
            names.push_back(e.path().filename().string());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(case_names()), [](const testing::TestParamInfo<std::string> &c) {
    return std::regex_replace(c.param, std::regex("-"), "_");
});

} // namespace
