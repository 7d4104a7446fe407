#include "updater/manifest.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/binio.h"
#include "platform/paths.h"
#include "updater/info.h"
#include "updater_builtin_keys.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

constexpr size_t kEd25519KeySize = 32;
constexpr size_t kEd25519SignatureSize = 64;
// Sizes above this are refused (no update file is that large).
constexpr int64_t kMaxFileSize = int64_t{1} << 40;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string Hex(const unsigned char* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

bool IsLowerHex(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A decimal number without sign or blanks, at most `max`.
bool ParseDecimal(std::string_view s, uint64_t max, uint64_t* out) {
    if (s.empty() || s.size() > 19)
        return false;
    uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max)
        return false;
    *out = value;
    return true;
}

bool HasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

std::string Base64(const unsigned char* data, size_t size) {
    std::string out(4 * ((size + 2) / 3), '\0');
    int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

// Decodes one base64 text (blanks and line ends around it are ignored).
bool Unbase64(std::string_view text, std::string* out) {
    std::string clean;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        clean += c;
    }
    if (clean.empty() || clean.size() % 4 != 0)
        return false;
    std::string raw(clean.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(raw.data()),
                            reinterpret_cast<const unsigned char*>(clean.data()),
                            static_cast<int>(clean.size()));
    if (n < 0)
        return false;
    size_t padding = 0;
    if (clean.back() == '=')
        ++padding;
    if (clean[clean.size() - 2] == '=')
        ++padding;
    raw.resize(static_cast<size_t>(n) - padding);
    *out = std::move(raw);
    return true;
}

}  // namespace

const ManifestFile* Manifest::Find(std::string_view path) const {
    std::string key = Lower(path);
    for (const ManifestFile& f : files) {
        if (f.path == key)
            return &f;
    }
    return nullptr;
}

bool ParseManifest(std::string_view data, Manifest* out) {
    *out = Manifest();
    bool have_product = false;
    bool have_sequence = false;
    size_t pos = 0;
    size_t line_no = 0;
    while (pos < data.size()) {
        size_t lf = data.find('\n', pos);
        if (lf == std::string_view::npos)
            lf = data.size();
        std::string_view line = data.substr(pos, lf - pos);
        pos = lf + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line_no++ == 0) {
            if (line != kManifestHeader)
                return false;
            continue;
        }
        if (line.empty())
            continue;
        if (HasControl(line))
            return false;
        size_t blank = line.find(' ');
        if (blank == std::string_view::npos)
            return false;
        std::string_view key = line.substr(0, blank);
        std::string_view value = line.substr(blank + 1);
        if (key == "product") {
            if (have_product || value.empty() || value.find(' ') != std::string_view::npos)
                return false;
            out->product = Lower(value);
            have_product = true;
        } else if (key == "sequence") {
            if (have_sequence || !ParseDecimal(value, UINT64_MAX / 10, &out->sequence))
                return false;
            have_sequence = true;
        } else if (key == "expires") {
            if (out->expires != 0 || !ParseUtcTime(value, &out->expires) || out->expires <= 0)
                return false;
        } else if (key == "file") {
            // "<sha256> <size> <path>"
            size_t b1 = value.find(' ');
            if (b1 != 64)
                return false;
            size_t b2 = value.find(' ', b1 + 1);
            if (b2 == std::string_view::npos)
                return false;
            ManifestFile file;
            file.sha256.assign(value.substr(0, 64));
            uint64_t size = 0;
            if (!IsLowerHex(file.sha256) ||
                !ParseDecimal(value.substr(b1 + 1, b2 - b1 - 1), kMaxFileSize, &size)) {
                return false;
            }
            file.size = static_cast<int64_t>(size);
            std::string_view path = value.substr(b2 + 1);
            if (path.empty() || path.find(' ') != std::string_view::npos)
                return false;
            file.path = Lower(path);
            if (out->Find(file.path))
                return false;
            out->files.push_back(std::move(file));
        } else {
            return false;
        }
    }
    return line_no > 0 && have_product && have_sequence;
}

std::string FormatManifest(const Manifest& manifest) {
    std::string out = kManifestHeader;
    out +=
        "\nproduct " + manifest.product + "\nsequence " + std::to_string(manifest.sequence) + "\n";
    if (manifest.expires > 0)
        out += "expires " + FormatUtcTime(manifest.expires) + "\n";
    for (const ManifestFile& f : manifest.files)
        out += "file " + f.sha256 + " " + std::to_string(f.size) + " " + f.path + "\n";
    return out;
}

std::string FormatUtcTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (!gmtime_r(&t, &tm))
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

bool ParseUtcTime(std::string_view text, int64_t* seconds) {
    // Exactly "YYYY-MM-DDTHH:MM:SSZ".
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof kShape - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i])
            return false;
    }
    auto number = [&](size_t at, size_t len) {
        int v = 0;
        for (size_t i = at; i < at + len; ++i)
            v = v * 10 + (text[i] - '0');
        return v;
    };
    struct tm tm {};
    tm.tm_year = number(0, 4) - 1900;
    tm.tm_mon = number(5, 2) - 1;
    tm.tm_mday = number(8, 2);
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = number(17, 2);
    if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 59) {
        return false;
    }
    struct tm check = tm;
    time_t t = timegm(&check);
    // A day that does not exist (30 February) comes back as another date.
    if (t == static_cast<time_t>(-1) || check.tm_mday != tm.tm_mday || check.tm_mon != tm.tm_mon)
        return false;
    *seconds = static_cast<int64_t>(t);
    return true;
}

bool ManifestCoversList(const Manifest& manifest, std::string_view update_info,
                        const ServerList& list, std::string* problem) {
    std::string dummy;
    std::string& why = problem ? *problem : dummy;
    const ManifestFile* info = manifest.Find("update.info");
    std::string hash;
    if (!info) {
        why = "update.info is not in the manifest";
        return false;
    }
    if (!Sha256Hex(update_info, &hash) || info->size != static_cast<int64_t>(update_info.size()) ||
        info->sha256 != hash) {
        why = "update.info differs from the manifest";
        return false;
    }
    for (const ServerEntry& entry : list.entries) {
        if (!manifest.Find(entry.path + entry.name)) {
            why = entry.path + entry.name + " is not in the manifest";
            return false;
        }
    }
    return true;
}

bool Sha256Hex(std::string_view data, std::string* hex) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return false;
    *hex = Hex(digest, size);
    return true;
}

bool Sha256File(const fs::path& file, std::string* hex, int64_t* size) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!in)
        return false;
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return false;
    int64_t total = 0;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in.get())) > 0) {
        if (EVP_DigestUpdate(ctx.get(), buf, n) != 1)
            return false;
        total += static_cast<int64_t>(n);
    }
    if (std::ferror(in.get()))
        return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &digest_size) != 1)
        return false;
    *hex = Hex(digest, digest_size);
    if (size)
        *size = total;
    return true;
}

bool ParsePublicKeyPem(std::string_view pem, std::string* raw) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return false;
    Pkey key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        return false;
    unsigned char bytes[kEd25519KeySize];
    size_t len = sizeof bytes;
    if (EVP_PKEY_get_raw_public_key(key.get(), bytes, &len) != 1 || len != kEd25519KeySize)
        return false;
    raw->assign(reinterpret_cast<const char*>(bytes), len);
    return true;
}

const std::vector<std::string>& BuiltinKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out;
        for (const char* const* k = kUpdaterBuiltinKeys; *k; ++k)
            out.emplace_back(*k);
        return out;
    }();
    return keys;
}

namespace {

// Whether only its owner, root or this user, may change `path`.
bool OnlyOwnerWrites(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::vector<TrustedKey> LoadTrustedKeys(const std::vector<std::string>& builtin,
                                        const std::vector<fs::path>& dirs,
                                        std::vector<std::string>* skipped) {
    std::vector<TrustedKey> keys;
    for (const std::string& pem : builtin) {
        std::string raw;
        if (ParsePublicKeyPem(pem, &raw)) {
            keys.push_back({raw, "built in"});
        } else if (skipped) {
            skipped->push_back("built in");
        }
    }
    for (const fs::path& dir : dirs) {
        std::vector<fs::path> files;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().extension() == ".pem")
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        bool folder_safe = files.empty() || OnlyOwnerWrites(dir);
        for (const fs::path& file : files) {
            std::string text, raw;
            if (folder_safe && OnlyOwnerWrites(file) && platform::ReadFileBytes(file, &text) &&
                text.size() < 65536 && ParsePublicKeyPem(text, &raw)) {
                keys.push_back({raw, file.string()});
            } else if (skipped) {
                skipped->push_back(file.string() + (folder_safe && OnlyOwnerWrites(file)
                                                        ? ""
                                                        : " (others may write it)"));
            }
        }
    }
    return keys;
}

bool VerifySignature(std::string_view data, std::string_view signature_file,
                     const std::vector<TrustedKey>& keys) {
    std::string signature;
    if (signature_file.size() > 1024 || !Unbase64(signature_file, &signature) ||
        signature.size() != kEd25519SignatureSize) {
        return false;
    }
    for (const TrustedKey& key : keys) {
        Pkey pkey(EVP_PKEY_new_raw_public_key(
            EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key.raw.data()),
            key.raw.size()));
        MdCtx ctx(EVP_MD_CTX_new());
        if (!pkey || !ctx ||
            EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
            continue;
        }
        if (EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                             signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                             data.size()) == 1) {
            return true;
        }
    }
    return false;
}

namespace {

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    return len > 0 ? std::string(data, static_cast<size_t>(len)) : std::string();
}

}  // namespace

bool GenerateKeyPair(std::string* private_pem, std::string* public_pem) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key)
        return false;
    Bio priv(BIO_new(BIO_s_mem()));
    Bio pub(BIO_new(BIO_s_mem()));
    if (!priv || !pub ||
        PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        PEM_write_bio_PUBKEY(pub.get(), key.get()) != 1) {
        return false;
    }
    *private_pem = BioText(priv.get());
    *public_pem = BioText(pub.get());
    return !private_pem->empty() && !public_pem->empty();
}

bool SignData(std::string_view data, std::string_view private_pem, std::string* signature_file) {
    Bio bio(BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size())));
    if (!bio)
        return false;
    Pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        return false;
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    unsigned char signature[kEd25519SignatureSize];
    size_t len = sizeof signature;
    if (EVP_DigestSign(ctx.get(), signature, &len,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1 ||
        len != kEd25519SignatureSize) {
        return false;
    }
    *signature_file = Base64(signature, len) + "\n";
    return true;
}

}  // namespace updater
