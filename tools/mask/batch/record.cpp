// SPDX-License-Identifier: ISC
#include "record.h"

#include "errors.h"
#include "temp_file.h"
#include "text.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

std::string name_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Names are bytes: one that is not UTF-8 is kept as hex beside a readable
// form, as JSON strings hold only UTF-8.
void put_name(nlohmann::json& json, const char* key, const std::string& name)
{
    if (invalid_utf8_at(name) == std::string::npos) {
        json[key] = name;
        return;
    }
    std::string bytes;
    for (const char byte : name) {
        bytes += hex(static_cast<unsigned char>(byte)).substr(14);
    }
    json[key] = printable(name);
    json[std::string(key) + "_bytes"] = bytes;
}

std::string get_name(const nlohmann::json& json, const char* key)
{
    const auto bytes = json.find(std::string(key) + "_bytes");
    if (bytes == json.end()) {
        return json.at(key).get<std::string>();
    }
    const std::string text = bytes->get<std::string>();
    if (text.size() % 2 != 0 || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
        throw bad_input(std::string("not a record: ") + key + "_bytes is not hex");
    }
    std::string name;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        name += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return name;
}

} // namespace

std::string record_path(const std::string& output)
{
    const auto slash = output.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash + 1);
    const std::string name = name_of(output);
    const long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t room = longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX;
    const std::string suffix = RECORD_SUFFIX;
    if (name.size() + suffix.size() <= room) {
        return output + suffix;
    }
    // Any name the output may have must leave a record: a long one is cut,
    // at a character's start, and told from others cut alike by its hash.
    const std::string hash = "~" + hex(fnv1a(name));
    std::size_t cut = room - suffix.size() - hash.size();
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0u) == 0x80u) {
        --cut;
    }
    return output.substr(0, output.size() - name.size()) + name.substr(0, cut) + hash + suffix;
}

std::string record_json(const FileRecord& record)
{
    // The output beside the record by its name only: the folder may be
    // copied or moved, and the record must still speak of what is beside it.
    nlohmann::json json;
    put_name(json, "input", record.input);
    put_name(json, "output", name_of(record.output));
    json.update(nlohmann::json{{"size", record.identity.size},
                               {"mtime_ns", record.identity.mtime_ns},
                               {"content_hash", record.identity.content_hash},
                               {"output_size", record.output_identity.size},
                               {"output_mtime_ns", record.output_identity.mtime_ns},
                               {"output_hash", record.output_identity.content_hash},
                               {"options_hash", record.options_hash},
                               {"outcome", record.status == 0 ? "done" : "failed"},
                               {"status", record.status},
                               {"message", record.message},
                               {"seconds", record.seconds},
                               {"words_found", record.words_found},
                               {"wall_seconds", record.wall_seconds},
                               {"cpu_seconds", record.cpu_seconds},
                               {"skipped", record.skipped}});
    // Replaced, not thrown on: a message may quote text that is not UTF-8.
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

FileRecord parse_record(const std::string& text)
{
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        FileRecord record;
        record.input = get_name(json, "input");
        record.output = get_name(json, "output");
        record.identity.size = json.at("size").get<int64_t>();
        record.identity.mtime_ns = json.at("mtime_ns").get<int64_t>();
        record.identity.content_hash = json.at("content_hash").get<std::string>();
        // Absent from the records of earlier versions: the output's presence is all they tell.
        record.output_identity.size = json.value("output_size", int64_t{-1});
        record.output_identity.mtime_ns = json.value("output_mtime_ns", int64_t{0});
        record.output_identity.content_hash = json.value("output_hash", std::string());
        record.options_hash = json.at("options_hash").get<std::string>();
        record.status = json.at("status").get<int>();
        record.message = json.at("message").get<std::string>();
        record.seconds = json.at("seconds").get<double>();
        record.words_found = json.at("words_found").get<std::map<std::string, int>>();
        record.wall_seconds = json.at("wall_seconds").get<double>();
        record.cpu_seconds = json.at("cpu_seconds").get<double>();
        record.skipped = json.value("skipped", 0);
        return record;
    } catch (const nlohmann::json::exception& e) {
        throw bad_input(std::string("not a record: ") + e.what());
    }
}

std::optional<FileRecord> read_record(const std::string& output)
{
    std::ifstream in(record_path(output), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        FileRecord record = parse_record(text.str());
        // A cut name may be shared; the record must be of this output. It
        // speaks of the output where it is now.
        if (name_of(record.output) != name_of(output)) {
            return std::nullopt;
        }
        record.output = output;
        return record;
    } catch (const Error&) {
        return std::nullopt;
    }
}

void write_record(const FileRecord& record, bool durable)
{
    const std::string path = record_path(record.output);
    TempFile temp(path, new_file_mode());
    temp.write_text(record_json(record), "'" + path + "'");
    if (durable) {
        replace_all({{&temp, path, path}});
    } else {
        temp.commit(path, false);
    }
}

bool still_valid(const FileRecord& record, const FileIdentity& identity, const std::string& options_hash)
{
    if (record.identity.size != identity.size || record.identity.mtime_ns != identity.mtime_ns
        || record.identity.content_hash != identity.content_hash || record.options_hash != options_hash) {
        return false;
    }
    if (record.status != 0) {
        return record.status == EXIT_BAD_INPUT;
    }
    return output_unchanged(record);
}

bool output_unchanged(const FileRecord& record)
{
    try {
        const FileIdentity now = examine(record.output);
        const FileIdentity& then = record.output_identity;
        // A copy of the folder may give it a new time: the content decides.
        return then.size < 0
            || (now.size == then.size
                && (now.mtime_ns == then.mtime_ns || content_hash(record.output) == then.content_hash));
    } catch (const Error&) {
        return false;
    }
}

} // namespace zendrik_mask
