// SPDX-License-Identifier: ISC
#include "record.h"

#include "errors.h"
#include "temp_file.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace zendrik_mask {

std::string record_path(const std::string& output)
{
    return output + RECORD_SUFFIX;
}

std::string record_json(const FileRecord& record)
{
    nlohmann::json json{{"input", record.input},
                        {"output", record.output},
                        {"size", record.identity.size},
                        {"mtime_ns", record.identity.mtime_ns},
                        {"content_hash", record.identity.content_hash},
                        {"options_hash", record.options_hash},
                        {"outcome", record.status == 0 ? "done" : "failed"},
                        {"status", record.status},
                        {"message", record.message},
                        {"seconds", record.seconds},
                        {"words_found", record.words_found},
                        {"wall_seconds", record.wall_seconds},
                        {"cpu_seconds", record.cpu_seconds},
                        {"skipped", record.skipped}};
    // Replaced, not thrown on: a file name need not be UTF-8.
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

FileRecord parse_record(const std::string& text)
{
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        FileRecord record;
        record.input = json.at("input").get<std::string>();
        record.output = json.at("output").get<std::string>();
        record.identity.size = json.at("size").get<int64_t>();
        record.identity.mtime_ns = json.at("mtime_ns").get<int64_t>();
        record.identity.content_hash = json.at("content_hash").get<std::string>();
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
        return parse_record(text.str());
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
    struct stat status {};
    return record.status == EXIT_BAD_INPUT || (record.status == 0 && stat(record.output.c_str(), &status) == 0);
}

} // namespace zendrik_mask
