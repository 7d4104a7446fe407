// The signed manifest beside "update.info": for every file of the list its
// path, size and SHA-256, the product folder it belongs to and a sequence
// number that only grows; "update.manifest.sig" holds an Ed25519 signature
// over the manifest's bytes. Hashing and signatures go through OpenSSL's
// libcrypto (EVP); nothing here is hand-made crypto.
//
// update.manifest, 8-bit text, lines ended by LF:
//   skyvane-update-manifest 1
//   product <folder name>
//   sequence <decimal>
//   expires <YYYY-MM-DDTHH:MM:SSZ>   (UTC; after it the manifest is refused)
//   file <sha256 hex> <size> <path as update.info names it>
//   ...
// update.manifest.sig: the 64-byte signature in base64, one line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

struct ServerList;

inline constexpr const char* kManifestName = "update.manifest";
inline constexpr const char* kSignatureName = "update.manifest.sig";
inline constexpr const char* kManifestHeader = "skyvane-update-manifest 1";

struct ManifestFile {
    std::string path;  // lower case, as the update list's parser gives it
    int64_t size = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
};

struct Manifest {
    std::string product;  // lower case
    uint64_t sequence = 0;
    int64_t expires = 0;  // seconds since 1970 (UTC); 0: the manifest names none
    std::vector<ManifestFile> files;

    const ManifestFile* Find(std::string_view path) const;
};

// Strict parser: the header line first, exactly one product and one sequence,
// at most one expiry time, well-formed file lines, no path twice. Returns
// false on anything else.
bool ParseManifest(std::string_view data, Manifest* out);
std::string FormatManifest(const Manifest& manifest);
// "YYYY-MM-DDTHH:MM:SSZ" and back; false for anything else.
std::string FormatUtcTime(int64_t seconds);
bool ParseUtcTime(std::string_view text, int64_t* seconds);

// Whether `manifest` covers the update list: it names "update.info" with
// exactly these bytes, and every file entry of `list` by its path and name.
// `problem` (when given) says what differs.
bool ManifestCoversList(const Manifest& manifest, std::string_view update_info,
                        const ServerList& list, std::string* problem);

// SHA-256 of bytes or of a whole file, as 64 lower-case hex digits.
bool Sha256Hex(std::string_view data, std::string* hex);
bool Sha256File(const std::filesystem::path& file, std::string* hex, int64_t* size);

// An Ed25519 public key: the 32 raw bytes, and where it came from.
struct TrustedKey {
    std::string raw;
    std::string origin;  // file name or "built in"
};

// Reads a public key in PEM ("-----BEGIN PUBLIC KEY-----"); false when the
// text holds no Ed25519 public key.
bool ParsePublicKeyPem(std::string_view pem, std::string* raw);

// The trusted keys: the PEM texts of `builtin` (BuiltinKeys() in the
// programs) and every "*.pem" file in the folders `dirs`. Keys that are no
// Ed25519 public key are skipped and named in `skipped`, and so are files in
// a folder that others than its owner (root or this user) may write, or
// that others may write themselves.
std::vector<TrustedKey> LoadTrustedKeys(const std::vector<std::string>& builtin,
                                        const std::vector<std::filesystem::path>& dirs,
                                        std::vector<std::string>* skipped = nullptr);
// The PEM texts built in with the CMake option SKYVANE_UPDATER_KEYS.
const std::vector<std::string>& BuiltinKeys();

// Whether `signature_file` (the text of "update.manifest.sig") is a valid
// signature of `data` by one of `keys`.
bool VerifySignature(std::string_view data, std::string_view signature_file,
                     const std::vector<TrustedKey>& keys);

// The publisher's side: a new key pair (private key as PKCS#8 PEM, public
// key as PEM) and a signature file for `data`.
bool GenerateKeyPair(std::string* private_pem, std::string* public_pem);
bool SignData(std::string_view data, std::string_view private_pem, std::string* signature_file);

}  // namespace updater
