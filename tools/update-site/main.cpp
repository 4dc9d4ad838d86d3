// zdr-update-site: the maker's tool that turns a built engine folder into an
// update site any static web server can serve (see --help).

#include "engine/DigestList.h"
#include "engine/UpdateDescription.h"
#include "engine/UpdateSequence.h"
#include "engine/UpdateSignature.h"
#include "platform/VersionNote.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: zdr-update-site --key PRIVATE.pem --engine FOLDER --out FOLDER --base-url URL\n"
    "                       [--exe NAME] [--format zip|7z] [--sequence N]\n"
    "\n"
    "Publishes an engine release as an update site. FOLDER (--engine) holds the\n"
    "built engine: the engine executable (--exe, default ZDRDownloadV32.exe, which\n"
    "must carry a version note) and any files beside it. Written under --out:\n"
    "\n"
    "  ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml   the description:\n"
    "      <file> with one element per engine file (url, hash, sha256; \"ver\" on\n"
    "      the executable's element, from its version note) and <all><all> for\n"
    "      the package of all files\n"
    "  ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml.sig   the raw\n"
    "      64-byte Ed25519 signature of the description's exact bytes\n"
    "  ostrel/zdrdownload/update/v3_32/files/NAME.zip (or .7z)   one archive per\n"
    "      file, all.zip (or all.7z) the package, each with its MD4 digest list\n"
    "      beside it (.md4)\n"
    "\n"
    "The description's sequence (--sequence, default the current time in\n"
    "seconds since 1970) must grow with every release: the service rejects a\n"
    "description whose sequence is lower than one it already accepted, so an\n"
    "older signed description cannot be served again to bring back an older\n"
    "engine.\n"
    "\n"
    "Serve --out at URL (--base-url, e.g. http://update.example or\n"
    "http://127.0.0.1:8080) and set the service's update host to that host. The\n"
    "service accepts the site only if --key is the private half of the public key\n"
    "it was built with (ZDR_UPDATE_PUBLIC_KEY); tools/update-site/demo-signing-key.pem\n"
    "is the demo's key and must never sign a real release.\n"
    "Archives are made with the zip and 7z programs. Exit status 0 on success.\n";

struct Options {
    std::string key;
    std::string engine;
    std::string out;
    std::string baseUrl;
    std::string exe = "ZDRDownloadV32.exe";
    std::string format = "zip";
    std::string sequence = std::to_string(static_cast<unsigned long long>(time(nullptr)));
};

bool ReadFile(const std::string& path, std::string* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Element names of the description are file names: keep them plain.
bool IsPlainName(const std::string& name)
{
    if (name.empty() || !(isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) return false;
    for (char c : name)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
    return true;
}

std::string EscapeAttribute(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// Runs an archiver in folder; true when it exits with 0.
bool RunIn(const std::string& folder, std::vector<std::string> args)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        fprintf(stderr, "zdr-update-site: cannot run %s: %s\n", argv[0], strerror(spawned));
        return false;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "zdr-update-site: %s failed\n", argv[0]);
        return false;
    }
    return true;
}

// Packs names (relative to folder) into archive (an absolute path).
bool Pack(const Options& options, const std::string& folder, const std::string& archive,
          const std::vector<std::string>& names)
{
    std::error_code ignored;
    fs::remove(archive, ignored);
    std::vector<std::string> args;
    if (options.format == "7z") {
        args = {"7z", "a", "-bd", "-bso0", "-bsp0", "-t7z", archive};
    } else {
        args = {"zip", "-q", "-X", archive};
    }
    args.insert(args.end(), names.begin(), names.end());
    return RunIn(folder, args);
}

struct Published {
    std::string url;
    std::string hash;
    std::string sha256;
};

// Packs names into files/<stem>.<format> with its digest list beside it.
bool Publish(const Options& options, const std::string& siteFolder, const std::string& siteUrl,
             const std::string& stem, const std::vector<std::string>& names, Published* published)
{
    const std::string relative = "files/" + stem + "." + options.format;
    const std::string archive = siteFolder + relative;
    if (!Pack(options, options.engine, archive, names)) return false;
    std::string bytes;
    if (!ReadFile(archive, &bytes)) return false;
    const std::vector<unsigned char> list =
        BuildDigestList(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (!WriteFile(archive + ".md4", std::string(list.begin(), list.end()))) return false;
    published->url = siteUrl + relative;
    published->hash = siteUrl + relative + ".md4";
    published->sha256 = Sha256Hex(bytes.data(), bytes.size());
    return true;
}

std::string Element(const std::string& name, const std::string& version, const Published& published)
{
    std::string text = "<" + name;
    if (!version.empty()) text += " ver=\"" + EscapeAttribute(version) + "\"";
    return text + " url=\"" + EscapeAttribute(published.url) + "\" hash=\"" + EscapeAttribute(published.hash) +
        "\" sha256=\"" + published.sha256 + "\"/>";
}

int Build(Options options)
{
    std::string key;
    if (!ReadFile(options.key, &key)) {
        fprintf(stderr, "zdr-update-site: cannot read the key %s\n", options.key.c_str());
        return 1;
    }
    options.engine = fs::absolute(options.engine).string() + "/";
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(options.engine, error)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        if (!IsPlainName(name)) {
            fprintf(stderr, "zdr-update-site: %s: only plain file names can be published\n", name.c_str());
            return 1;
        }
        names.push_back(name);
    }
    if (error) {
        fprintf(stderr, "zdr-update-site: cannot list %s\n", options.engine.c_str());
        return 1;
    }
    std::sort(names.begin(), names.end());
    if (std::find(names.begin(), names.end(), options.exe) == names.end()) {
        fprintf(stderr, "zdr-update-site: no %s in %s\n", options.exe.c_str(), options.engine.c_str());
        return 1;
    }
    const std::string version = ReadVersionNote(options.engine + options.exe);
    if (version.empty()) {
        fprintf(stderr, "zdr-update-site: %s carries no version note\n", options.exe.c_str());
        return 1;
    }
    const std::string descriptionPath = kUpdateDescriptionPath;
    const std::string siteDirectory = descriptionPath.substr(0, descriptionPath.find_last_of('/') + 1);
    const std::string siteFolder = fs::absolute(options.out).string() + siteDirectory;
    while (!options.baseUrl.empty() && options.baseUrl.back() == '/') options.baseUrl.pop_back();
    const std::string siteUrl = options.baseUrl + siteDirectory;
    fs::create_directories(siteFolder + "files", error);
    if (error) {
        fprintf(stderr, "zdr-update-site: cannot make %s\n", siteFolder.c_str());
        return 1;
    }

    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update " + std::string(kUpdateSequenceAttribute) +
        "=\"" + options.sequence + "\">\r\n <file>\r\n";
    for (const std::string& name : names) {
        Published published;
        if (!Publish(options, siteFolder, siteUrl, name, {name}, &published)) return 1;
        xml += "  " + Element(name, name == options.exe ? version : "", published) + "\r\n";
    }
    Published package;
    if (!Publish(options, siteFolder, siteUrl, "all", names, &package)) return 1;
    xml += " </file>\r\n <all>\r\n  " + Element("all", "", package) + "\r\n </all>\r\n</update>\r\n";

    const std::string signature = SignEd25519(key, xml.data(), xml.size());
    if (signature.size() != kEd25519SignatureSize) {
        fprintf(stderr, "zdr-update-site: %s is no Ed25519 private key\n", options.key.c_str());
        return 1;
    }
    const std::string xmlPath = fs::absolute(options.out).string() + descriptionPath;
    if (!WriteFile(xmlPath, xml) || !WriteFile(xmlPath + kSignatureFileSuffix, signature)) {
        fprintf(stderr, "zdr-update-site: cannot write %s\n", xmlPath.c_str());
        return 1;
    }
    printf("%s %s: %zu file(s) published at %s (sequence %s)\n", options.exe.c_str(), version.c_str(), names.size(),
           (options.baseUrl + descriptionPath).c_str(), options.sequence.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "zdr-update-site: %s needs a value\n%s", arg.c_str(), kUsage);
            return 2;
        }
        const std::string value = argv[++i];
        if (arg == "--key") options.key = value;
        else if (arg == "--engine") options.engine = value;
        else if (arg == "--out") options.out = value;
        else if (arg == "--base-url") options.baseUrl = value;
        else if (arg == "--exe") options.exe = value;
        else if (arg == "--format") options.format = value;
        else if (arg == "--sequence") options.sequence = value;
        else {
            fprintf(stderr, "zdr-update-site: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (options.key.empty() || options.engine.empty() || options.out.empty() || options.baseUrl.empty() ||
        (options.format != "zip" && options.format != "7z") || options.sequence.empty() ||
        options.sequence.size() > 19 || options.sequence.find_first_not_of("0123456789") != std::string::npos) {
        fputs(kUsage, stderr);
        return 2;
    }
    return Build(options);
}
