// SPDX-License-Identifier: ISC
#include "adaptation.h"

#include "errors.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace zendrik_mask {

namespace {

// The feature streams' sizes in a Sphinx-III means file: a text header
// ending in "endhdr", a byte-order mark, then the counts.
std::vector<uint32_t> model_stream_sizes(const std::string& model_dir)
{
    const std::string path = model_dir + "/means";
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line) && line.find("endhdr") == std::string::npos) {
    }
    uint32_t mark = 0;
    in.read(reinterpret_cast<char*>(&mark), sizeof mark);
    const bool swapped = mark == 0x44332211u;
    const auto next = [&]() {
        uint32_t value = 0;
        in.read(reinterpret_cast<char*>(&value), sizeof value);
        return swapped ? __builtin_bswap32(value) : value;
    };
    next(); // codebooks
    const uint32_t streams = next();
    next(); // densities
    std::vector<uint32_t> sizes;
    for (uint32_t i = 0; in && (mark == 0x11223344u || swapped) && i < streams && i < 64; ++i) {
        sizes.push_back(next());
    }
    if (!in || sizes.empty() || sizes.size() != streams) {
        throw bad_input("cannot read the feature sizes of the acoustic model's means in '" + path + "'");
    }
    return sizes;
}

} // namespace

void check_adaptation(const std::string& transform, const std::string& model_dir)
{
    if (transform.empty()) {
        return;
    }
    std::ifstream in(transform);
    if (!in) {
        throw bad_input("cannot read the adaptation transform '" + transform + "'");
    }
    const std::string malformed = "the adaptation transform '" + transform
        + "' is not an MLLR transform as sphinxtrain's mllr_solve writes one";
    long classes = 0;
    long streams = 0;
    if (!(in >> classes >> streams) || classes < 1 || classes > 1000 || streams < 1 || streams > 64) {
        throw bad_input(malformed);
    }
    std::vector<uint32_t> sizes;
    for (long stream = 0; stream < streams; ++stream) {
        long size = 0;
        if (!(in >> size) || size < 1 || size > 1000) {
            throw bad_input(malformed);
        }
        sizes.push_back(static_cast<uint32_t>(size));
        // Per class: the matrix, the offset and the variance scale.
        for (long value = 0; value < classes * (size * size + 2 * size); ++value) {
            float number = 0;
            if (!(in >> number)) {
                throw bad_input(malformed);
            }
        }
    }
    const std::vector<uint32_t> model = model_stream_sizes(model_dir);
    if (sizes != model) {
        const auto listed = [](const std::vector<uint32_t>& values) {
            std::string text;
            for (uint32_t value : values) {
                text += (text.empty() ? "" : "/") + std::to_string(value);
            }
            return text;
        };
        throw bad_input("the adaptation transform '" + transform + "' is for features of sizes " + listed(sizes)
                        + ", the acoustic model in '" + model_dir + "' has " + listed(model));
    }
}

} // namespace zendrik_mask
