// SPDX-License-Identifier: ISC
// Where the program finds what ships with it when nothing says otherwise.
#include "host.h"

#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zendrik_mask {

namespace {

// The folder this program runs from, "" when it cannot be told.
std::string program_dir()
{
    char exe[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    if (n <= 0) {
        return {};
    }
    exe[n] = '\0';
    const std::string path(exe);
    return path.substr(0, path.rfind('/'));
}

bool runs_from_build_tree([[maybe_unused]] const std::string& dir)
{
#ifdef ZENDRIK_MASK_BUILD_BIN_DIR
    char built[PATH_MAX + 1];
    return !dir.empty() && realpath(ZENDRIK_MASK_BUILD_BIN_DIR, built) && dir == built;
#else
    return false;
#endif
}

} // namespace

std::string fallback_lv2_dir()
{
#ifdef ZENDRIK_MASK_BUILD_LV2_DIR
    struct stat st {};
    if (runs_from_build_tree(program_dir()) && stat(ZENDRIK_MASK_BUILD_LV2_DIR, &st) == 0 && S_ISDIR(st.st_mode)) {
        return ZENDRIK_MASK_BUILD_LV2_DIR;
    }
#endif
    return {};
}

std::vector<std::string> shipped_word_list_dirs()
{
    const std::string dir = program_dir();
    if (dir.empty()) {
        return {};
    }
    std::vector<std::string> dirs;
#ifdef ZENDRIK_MASK_BUILD_WORDS_DIR
    if (runs_from_build_tree(dir)) {
        dirs.emplace_back(ZENDRIK_MASK_BUILD_WORDS_DIR);
    }
#endif
#ifdef ZENDRIK_MASK_WORDS_FROM_BIN
    // Relative to the program, so that an installed tree may be moved.
    dirs.push_back(dir + "/" ZENDRIK_MASK_WORDS_FROM_BIN);
#endif
    return dirs;
}

} // namespace zendrik_mask
