// SPDX-License-Identifier: ISC
// A video's picture at a given time, small, as JPEG: for a reviewer to see
// where in the film a find lies.
#ifndef ZENDRIK_MASK_STILL_FRAME_H
#define ZENDRIK_MASK_STILL_FRAME_H

#include <string>
#include <vector>

namespace zendrik_mask {

// One JPEG per time (seconds from the time shown as 0), at most 320 pixels
// wide; all empty when the file has no video, or FFmpeg cannot read it:
// the page is still worth having without its pictures.
std::vector<std::string> still_frames(const std::string& path, const std::vector<double>& times);

} // namespace zendrik_mask

#endif
