#include "updater/sign.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "platform/binio.h"
#include "updater/info.h"
#include "updater/manifest.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

const char kUsage[] =
    "usage: updater-sign keygen PRIVATE-KEY PUBLIC-KEY\n"
    "       updater-sign sign PRIVATE-KEY FOLDER [--product NAME] [--sequence N]\n"
    "                                            [--valid-days N]\n"
    "       updater-sign verify FOLDER PUBLIC-KEY... [--product NAME]\n"
    "FOLDER holds update.info and the files it lists; its name is the product\n"
    "unless --product gives it. sign writes update.manifest and\n"
    "update.manifest.sig there, with a sequence number above the last one;\n"
    "the updater accepts the manifest for N days (30 unless --valid-days says\n"
    "otherwise, at most 3650): sign the folder again before then.\n";

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The private key is written once, readable by its owner only.
bool WriteNewPrivate(const fs::path& path, const std::string& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok;
}

// Takes "--name VALUE" out of `args`.
bool TakeOption(std::vector<std::string>* args, const char* name, std::string* value) {
    for (size_t i = 0; i < args->size(); ++i) {
        if ((*args)[i] != name)
            continue;
        if (i + 1 >= args->size())
            return false;
        *value = (*args)[i + 1];
        args->erase(args->begin() + static_cast<long>(i), args->begin() + static_cast<long>(i) + 2);
        return true;
    }
    return true;
}

std::string ProductOf(const fs::path& folder, const std::string& option) {
    if (!option.empty())
        return Lower(option);
    fs::path p = folder;
    if (p.filename().empty())
        p = p.parent_path();
    return Lower(p.filename().string());
}

bool ReadList(const fs::path& folder, std::string* data, ServerList* list, std::ostream& err) {
    if (!platform::ReadFileBytes(folder / "update.info", data)) {
        err << "can not read " << (folder / "update.info").string() << "\n";
        return false;
    }
    std::string bad;
    if (ParseUpdateInfo(*data, list, &bad) != ParseStatus::kOk) {
        err << "update.info is no valid update list" << (bad.empty() ? "" : ": " + bad) << "\n";
        return false;
    }
    return true;
}

int Keygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << kUsage;
        return 64;
    }
    if (fs::exists(args[0]) || fs::exists(args[1])) {
        err << "will not overwrite an existing key file\n";
        return 1;
    }
    std::string private_pem, public_pem;
    if (!GenerateKeyPair(&private_pem, &public_pem) || !WriteNewPrivate(args[0], private_pem) ||
        !platform::WriteFileAtomic(args[1], public_pem)) {
        err << "can not create the key pair\n";
        return 1;
    }
    out << "private key: " << args[0] << " (keep it secret)\npublic key: " << args[1] << "\n";
    return 0;
}

int Sign(std::vector<std::string> args, std::ostream& out, std::ostream& err) {
    std::string product_option, sequence_option, days_option;
    if (!TakeOption(&args, "--product", &product_option) ||
        !TakeOption(&args, "--sequence", &sequence_option) ||
        !TakeOption(&args, "--valid-days", &days_option) || args.size() != 2) {
        err << kUsage;
        return 64;
    }
    long days = 30;
    if (!days_option.empty()) {
        char* end = nullptr;
        days = std::strtol(days_option.c_str(), &end, 10);
        if (!end || *end || days < 1 || days > 3650) {
            err << "--valid-days takes a number of days from 1 to 3650\n";
            return 64;
        }
    }
    std::string private_pem;
    if (!platform::ReadFileBytes(args[0], &private_pem)) {
        err << "can not read " << args[0] << "\n";
        return 1;
    }
    fs::path folder = args[1];
    std::string info;
    ServerList list;
    if (!ReadList(folder, &info, &list, err))
        return 1;

    Manifest manifest;
    manifest.product = ProductOf(folder, product_option);
    manifest.expires = static_cast<int64_t>(std::time(nullptr)) + int64_t{days} * 86400;
    // The sequence only grows: one above the folder's last manifest.
    uint64_t last = 0;
    std::string old_bytes;
    Manifest old;
    if (platform::ReadFileBytes(folder / kManifestName, &old_bytes) &&
        ParseManifest(old_bytes, &old)) {
        last = old.sequence;
    }
    manifest.sequence = last + 1;
    if (!sequence_option.empty()) {
        char* end = nullptr;
        unsigned long long wanted = std::strtoull(sequence_option.c_str(), &end, 10);
        if (!end || *end || sequence_option[0] == '-' || wanted <= last) {
            err << "the sequence must be a number above " << last << "\n";
            return 1;
        }
        manifest.sequence = wanted;
    }

    ManifestFile info_file{"update.info", static_cast<int64_t>(info.size()), ""};
    Sha256Hex(info, &info_file.sha256);
    manifest.files.push_back(info_file);
    for (const ServerEntry& entry : list.entries) {
        std::string path = entry.path + entry.name;
        if (manifest.Find(path))
            continue;
        ManifestFile file{path, 0, ""};
        if (!Sha256File(folder / entry.name, &file.sha256, &file.size)) {
            err << "can not read " << (folder / entry.name).string() << ", listed as " << path
                << "\n";
            return 1;
        }
        manifest.files.push_back(file);
    }
    std::string text = FormatManifest(manifest);
    std::string signature;
    if (!SignData(text, private_pem, &signature)) {
        err << args[0] << " holds no Ed25519 private key\n";
        return 1;
    }
    if (!platform::WriteFileAtomic(folder / kManifestName, text) ||
        !platform::WriteFileAtomic(folder / kSignatureName, signature)) {
        err << "can not write the manifest into " << folder.string() << "\n";
        return 1;
    }
    out << "signed " << manifest.product << ": sequence " << manifest.sequence << ", "
        << manifest.files.size() << " files, valid until " << FormatUtcTime(manifest.expires)
        << "\n";
    return 0;
}

int Verify(std::vector<std::string> args, std::ostream& out, std::ostream& err) {
    std::string product_option;
    if (!TakeOption(&args, "--product", &product_option) || args.size() < 2) {
        err << kUsage;
        return 64;
    }
    fs::path folder = args[0];
    std::vector<TrustedKey> keys;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string pem, raw;
        if (!platform::ReadFileBytes(args[i], &pem) || !ParsePublicKeyPem(pem, &raw)) {
            err << args[i] << " holds no Ed25519 public key\n";
            return 1;
        }
        keys.push_back({raw, args[i]});
    }
    std::string info, manifest_bytes, signature;
    ServerList list;
    if (!ReadList(folder, &info, &list, err))
        return 1;
    if (!platform::ReadFileBytes(folder / kManifestName, &manifest_bytes) ||
        !platform::ReadFileBytes(folder / kSignatureName, &signature)) {
        err << "no " << kManifestName << " or " << kSignatureName << "\n";
        return 1;
    }
    if (!VerifySignature(manifest_bytes, signature, keys)) {
        err << "the signature is not valid for the given keys\n";
        return 1;
    }
    Manifest manifest;
    std::string problem;
    if (!ParseManifest(manifest_bytes, &manifest)) {
        err << "the manifest can not be read\n";
        return 1;
    }
    std::string product = ProductOf(folder, product_option);
    if (manifest.product != product) {
        err << "the manifest is for " << manifest.product << ", not " << product << "\n";
        return 1;
    }
    if (!ManifestCoversList(manifest, info, list, &problem)) {
        err << problem << "\n";
        return 1;
    }
    if (manifest.expires == 0) {
        err << "the manifest carries no expiry time: sign the folder again\n";
        return 1;
    }
    if (static_cast<int64_t>(std::time(nullptr)) >= manifest.expires) {
        err << "the manifest expired at " << FormatUtcTime(manifest.expires)
            << ": sign the folder again\n";
        return 1;
    }
    int bad = 0;
    for (const ManifestFile& file : manifest.files) {
        if (file.path == "update.info")
            continue;
        std::string name = file.path.substr(file.path.rfind('\\') + 1);
        std::string hash;
        int64_t size = 0;
        if (!Sha256File(folder / name, &hash, &size) || hash != file.sha256 || size != file.size) {
            err << name << " differs from the manifest\n";
            ++bad;
        }
    }
    if (bad > 0)
        return 1;
    out << "OK: " << manifest.product << ", sequence " << manifest.sequence << ", "
        << manifest.files.size() << " files, valid until " << FormatUtcTime(manifest.expires)
        << "\n";
    return 0;
}

}  // namespace

int RunSignTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return 64;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "keygen")
        return Keygen(rest, out, err);
    if (args[0] == "sign")
        return Sign(rest, out, err);
    if (args[0] == "verify")
        return Verify(rest, out, err);
    if (args[0] == "--help" || args[0] == "help") {
        out << kUsage;
        return 0;
    }
    err << kUsage;
    return 64;
}

}  // namespace updater
