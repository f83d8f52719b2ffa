#include "fuzz_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

void fuzz_sim_root(std::initializer_list<std::pair<const char *, const char *>> files)
{
    namespace fs = std::filesystem;
    std::string templ = (fs::temp_directory_path() / "cfgfuzz.XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
        std::abort();
    for (const auto &[path, text] : files) {
        fs::path p = fs::path(templ) / (path + 1);
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    ::setenv("CFGPULL_SIM_ROOT", templ.c_str(), 1);
}
