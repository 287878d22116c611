// SPDX-License-Identifier: ISC
#include "model_files.h"

#include "errors.h"

#include <dirent.h>

#include <vector>

namespace zendrik_mask {

std::string file_beside_model(const std::string& model_dir, const std::string& ending)
{
    for (const std::string& dir : {model_dir, model_dir + "/.."}) {
        std::vector<std::string> found;
        if (DIR* listing = opendir(dir.c_str())) {
            while (const dirent* entry = readdir(listing)) {
                const std::string name = entry->d_name;
                const auto ends_in = [&](const std::string& tail) {
                    return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
                };
                // A phone language model (en-us-phone.lm.bin) is for decoding phones, not words.
                if (ends_in(ending) && !ends_in("-phone" + ending)) {
                    found.push_back(dir + "/" + name);
                }
            }
            closedir(listing);
        }
        if (found.size() > 1) {
            throw bad_input("several files *" + ending + " in '" + dir + "': cannot tell which belongs to the model");
        }
        if (found.size() == 1) {
            return found.front();
        }
    }
    return "";
}

} // namespace zendrik_mask
