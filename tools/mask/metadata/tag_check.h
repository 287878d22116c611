// SPDX-License-Identifier: ISC
// The tags of a finished output read back before it replaces the target:
// TagLib rewrites the file by name and does not report a write that failed.
#ifndef ZENDRIK_MASK_TAG_CHECK_H
#define ZENDRIK_MASK_TAG_CHECK_H

#include <string>

namespace zendrik_mask {

// Throws write_failed naming `name` when the output at `path`, of libsndfile
// format `format`, is one whose tags TagLib writes and TagLib cannot read
// them whole.
void check_tags_read_back(const std::string& path, int format, const std::string& name);

} // namespace zendrik_mask

#endif
