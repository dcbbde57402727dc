#include "tools/tool_run.h"

#include <fcntl.h>
#include <unistd.h>
#include <signal.h>
#include <spawn.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifdef KESTREL_HAVE_LIBXML2
#include <libxml/xmlschemas.h>
#endif

#include "posix/process_wait.h"
#include "tools/chain_files.h"

extern char** environ;

namespace kestrel_tool_test {
namespace {

using kestrel_test::ReadText;

pid_t Start(const std::vector<std::string>& args, const ToolEnvironment& environment, const std::string& scratch) {
    std::vector<std::string> argv{KESTREL_TOOL_PROGRAM}, env;
    argv.insert(argv.end(), args.begin(), args.end());
    // The tool must take these from the test alone.
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "WINDIR=", 7) != 0 && std::strncmp(*entry, "KESTREL_ADDIN=", 14) != 0)
            env.push_back(*entry);
    if (!environment.windir.empty()) env.push_back("WINDIR=" + environment.windir);
    for (const auto& variable : environment.extra) env.push_back(variable.first + "=" + variable.second);
    std::vector<char*> argvPointers, envPointers;
    for (auto [from, to] : {std::pair{&argv, &argvPointers}, std::pair{&env, &envPointers}}) {
        for (std::string& text : *from) to->push_back(text.data());
        to->push_back(nullptr);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch + "/tool.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch + "/tool.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!environment.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, environment.workingDir.c_str());
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start the tool: ") + std::strerror(spawned));
    return pid;
}

ToolRun Finish(pid_t pid, const std::string& scratch, int timeoutMs) {
    int exitCode = kestrel_test::WaitForExit(pid, timeoutMs);
    return ToolRun{exitCode, ReadText(scratch + "/tool.out"), ReadText(scratch + "/tool.err")};
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const ToolEnvironment& environment,
                const std::string& scratch, int timeoutMs) {
    return Finish(Start(args, environment, scratch), scratch, timeoutMs);
}

std::string Describe(const std::vector<std::string>& args, const ToolRun& run) {
    std::string text = "kestrel";
    for (const std::string& arg : args) text += " '" + arg + "'";
    return text + "\nexit code " + std::to_string(run.exitCode) + "\n--- stdout:\n" + run.out + "--- stderr:\n" + run.err;
}

std::string N42SchemaMissing() {
#ifdef KESTREL_HAVE_LIBXML2
    return ::access(KESTREL_N42_SCHEMA, R_OK) == 0 ? "" : "no N42 schema at " KESTREL_N42_SCHEMA;
#else
    return "built without libxml2";
#endif
}

// Says once why N42 files go unchecked; nothing to report against the file.
static std::string Unchecked() {
    static const bool said = std::printf("N42 files not validated: %s\n", N42SchemaMissing().c_str()) > 0;
    (void)said;
    return std::string();
}

std::string N42SchemaErrors(const std::string& path) {
#ifdef KESTREL_HAVE_LIBXML2
    static xmlSchemaPtr schema = [] {
        if (!N42SchemaMissing().empty()) return xmlSchemaPtr{};
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(KESTREL_N42_SCHEMA);
        xmlSchemaPtr parsed = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        return parsed;
    }();
    if (schema == nullptr) return N42SchemaMissing().empty() ? "the schema does not parse" : Unchecked();
    std::string errors;
    xmlSchemaValidCtxtPtr validator = xmlSchemaNewValidCtxt(schema);
    xmlSchemaSetValidStructuredErrors(
        validator, [](void* out, xmlErrorPtr error) { *static_cast<std::string*>(out) += error->message; }, &errors);
    int result = xmlSchemaValidateFile(validator, path.c_str(), 0);
    xmlSchemaFreeValidCtxt(validator);
    return result != 0 && errors.empty() ? "invalid (libxml2 result " + std::to_string(result) + ")" : errors;
#else
    (void)path;
    return Unchecked();
#endif
}

bool ParseNumbers(const std::string& text, std::vector<std::uint64_t>* numbers) {
    std::istringstream words(text);
    for (std::string word; words >> word; numbers->push_back(std::stoull(word)))
        if (word.find_first_not_of("0123456789") != std::string::npos) return false;
    return true;
}

std::string CsvRows(std::uint64_t first, const std::vector<std::uint64_t>& counts) {
    std::string rows = "channel,counts\n";
    for (std::size_t i = 0; i < counts.size(); ++i) rows += std::to_string(first + i) + "," + std::to_string(counts[i]) + "\n";
    return rows;
}

bool HasPngSignature(const std::string& path) {
    return ReadText(path).compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) == 0;
}

ToolTest::ToolTest() : chain_(WriteChain(windir_ / "chain.conf", kStoppedChain)) {}

ToolRun ToolTest::Run(const std::vector<std::string>& args, bool sim) {
    std::vector<std::string> all{"--windir", windir_.path()};
    if (sim) all.insert(all.end(), {"--sim", chain_});
    all.insert(all.end(), args.begin(), args.end());
    ToolRun run = RunTool(all, {windir_.path(), "", {}}, scratch_.path());
    last_ = Describe(all, run);
    return run;
}

}  // namespace kestrel_tool_test
