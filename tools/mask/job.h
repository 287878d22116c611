// SPDX-License-Identifier: ISC
// One zendrik-mask run: read the input, run the plugin over it, write the
// output through a temporary file.
#ifndef ZENDRIK_MASK_JOB_H
#define ZENDRIK_MASK_JOB_H

#include "options.h"

namespace zendrik_mask {

// Runs the job and returns the exit status; errors are printed.
int run_job(const Options& options);

} // namespace zendrik_mask

#endif
