// SPDX-License-Identifier: ISC
// An adaptation to a voice and a room: an MLLR transform of the acoustic
// model's means, as sphinxtrain's mllr_solve writes it.
#ifndef ZENDRIK_MASK_ADAPTATION_H
#define ZENDRIK_MASK_ADAPTATION_H

#include <string>

namespace zendrik_mask {

// PocketSphinx applies a transform without comparing its shape with the
// model's, and one made for another feature layout reads past its
// matrices: this is checked first. Throws the bad-input Error when
// `transform` is unreadable or malformed, or when its feature streams are
// not the sizes of the model's in `model_dir`. No transform (empty) passes.
void check_adaptation(const std::string& transform, const std::string& model_dir);

} // namespace zendrik_mask

#endif
