// SPDX-License-Identifier: ISC
// Where the acoustic model's dictionary and language model lie: what
// zendrik-mask and zendrik live both decode with.
#ifndef ZENDRIK_MASK_MODEL_FILES_H
#define ZENDRIK_MASK_MODEL_FILES_H

#include <string>

namespace zendrik_mask {

// The default acoustic model: Debian's pocketsphinx-en-us. Its dictionary
// lies in the folder above.
constexpr const char* DEFAULT_MODEL_DIR = "/usr/share/pocketsphinx/model/en-us/en-us";

// The one file whose name ends in `ending` beside a model: in its folder or,
// as Debian lays them out, in the folder above. Empty when there is none.
// Throws the bad-input Error when several are there.
std::string file_beside_model(const std::string& model_dir, const std::string& ending);

} // namespace zendrik_mask

#endif
