// The signed manifest: its strict parser, signatures made and checked with
// libcrypto, the trusted keys folder, the sums of waiting files and the
// publisher's tool.
#include "updater/manifest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "updater/info.h"
#include "updater/place.h"
#include "updater/postreset.h"
#include "updater/sign.h"

namespace updater {
namespace {

namespace fs = std::filesystem;

const std::string kHash(64, 'a');

std::string ManifestText(const std::string& files) {
    return std::string(kManifestHeader) + "\nproduct demo\nsequence 7\n" + files;
}

TEST(Manifest, ParsesWhatItFormats) {
    Manifest m;
    ASSERT_TRUE(ParseManifest(ManifestText("file " + kHash +
                                           " 12 \\Windows\\A.dll\n"
                                           "file " +
                                           kHash + " 0 update.info\n"),
                              &m));
    EXPECT_EQ(m.product, "demo");
    EXPECT_EQ(m.sequence, 7u);
    ASSERT_EQ(m.files.size(), 2u);
    ASSERT_NE(m.Find("\\windows\\a.dll"), nullptr);  // paths compare in lower case
    EXPECT_EQ(m.Find("\\WINDOWS\\a.DLL")->size, 12);
    EXPECT_EQ(m.Find("a.dll"), nullptr);
    Manifest again;
    ASSERT_TRUE(ParseManifest(FormatManifest(m), &again));
    EXPECT_EQ(FormatManifest(again), FormatManifest(m));
}

TEST(Manifest, RefusesAnythingMalformed) {
    const std::string good = "file " + kHash + " 1 a.exe\n";
    const std::string bad[] = {
        "",
        "product demo\nsequence 1\n",                                 // no header
        "skyvane-update-manifest 2\nproduct demo\nsequence 1\n",      // unknown version
        std::string(kManifestHeader) + "\nsequence 1\n",              // no product
        std::string(kManifestHeader) + "\nproduct demo\n",            // no sequence
        ManifestText("sequence 8\n"),                                 // two sequences
        ManifestText("product other\n"),                              // two products
        ManifestText(good + good),                                    // a path twice
        ManifestText("file " + kHash + " 1 A.EXE\n" + good),          // the same in other case
        ManifestText("file " + std::string(64, 'A') + " 1 a.exe\n"),  // upper-case hex
        ManifestText("file " + std::string(63, 'a') + " 1 a.exe\n"),
        ManifestText("file " + kHash + " -1 a.exe\n"),
        ManifestText("file " + kHash + " 99999999999999999999 a.exe\n"),
        ManifestText("file " + kHash + " 1\n"),            // no path
        ManifestText("file " + kHash + " 1 a b\n"),        // a blank in the path
        ManifestText("file " + kHash + " 1 a\x01.exe\n"),  // a control character
        ManifestText("signer someone\n"),                  // an unknown line
        std::string(kManifestHeader) + "\nproduct demo\nsequence +1\n",
        std::string(kManifestHeader) + "\nproduct demo\nsequence 18446744073709551615\n",
    };
    for (const std::string& text : bad) {
        Manifest m;
        EXPECT_FALSE(ParseManifest(text, &m)) << text;
    }
}

TEST(Manifest, SignaturesVerifyOnlyForTheSignedBytesAndKey) {
    std::string priv, pub, other_priv, other_pub, raw, other_raw, sig;
    ASSERT_TRUE(GenerateKeyPair(&priv, &pub));
    ASSERT_TRUE(GenerateKeyPair(&other_priv, &other_pub));
    ASSERT_TRUE(ParsePublicKeyPem(pub, &raw));
    ASSERT_TRUE(ParsePublicKeyPem(other_pub, &other_raw));
    EXPECT_EQ(raw.size(), 32u);
    EXPECT_FALSE(ParsePublicKeyPem(priv, &raw));  // a private key is no public key
    const std::string data = ManifestText("");
    ASSERT_TRUE(SignData(data, priv, &sig));
    std::vector<TrustedKey> mine{{raw, "mine"}};
    std::vector<TrustedKey> other{{other_raw, "other"}};
    EXPECT_TRUE(VerifySignature(data, sig, mine));
    EXPECT_TRUE(VerifySignature(data, sig, {other[0], mine[0]}));  // any trusted key will do
    EXPECT_FALSE(VerifySignature(data, sig, other));
    EXPECT_FALSE(VerifySignature(data, sig, {}));
    std::string changed = data;
    changed[changed.size() - 2] ^= 1;
    EXPECT_FALSE(VerifySignature(changed, sig, mine));
    std::string bad_sig = sig;
    bad_sig[5] = bad_sig[5] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(VerifySignature(data, bad_sig, mine));
    EXPECT_FALSE(VerifySignature(data, "", mine));
    EXPECT_FALSE(VerifySignature(data, "AAAA\n", mine));  // too short
    EXPECT_FALSE(VerifySignature(data, "not base64 at all", mine));
    EXPECT_FALSE(SignData(data, pub, &sig));
}

TEST(Manifest, CoversTheListBytesAndEveryEntry) {
    const std::string info = "<group_bin>\r\n<label>P\r\n<bin>sub\\a.exe 1.0\r\n";
    ServerList list;
    ASSERT_EQ(ParseUpdateInfo(info, &list, nullptr), ParseStatus::kOk);
    Manifest m;
    m.product = "demo";
    std::string info_hash;
    ASSERT_TRUE(Sha256Hex(info, &info_hash));
    EXPECT_EQ(info_hash.size(), 64u);
    m.files.push_back({"update.info", static_cast<int64_t>(info.size()), info_hash});
    std::string problem;
    EXPECT_FALSE(ManifestCoversList(m, info, list, &problem));
    EXPECT_EQ(problem, "sub\\a.exe is not in the manifest");
    m.files.push_back({"sub\\a.exe", 1, kHash});
    EXPECT_TRUE(ManifestCoversList(m, info, list, &problem));
    EXPECT_FALSE(ManifestCoversList(m, info + " ", list, &problem));
    EXPECT_EQ(problem, "update.info differs from the manifest");
}

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("manifest_test_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const fs::path& p, const std::string& data) {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << data;
    }
    int Tool(std::vector<std::string> args, std::string* err = nullptr) {
        std::ostringstream out, e;
        int status = RunSignTool(args, out, e);
        if (err)
            *err = e.str();
        return status;
    }
    static std::string ReadAll(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
};

TEST_F(TempDirTest, KeysFolderTakesPemPublicKeysOnly) {
    std::string priv, pub;
    ASSERT_TRUE(GenerateKeyPair(&priv, &pub));
    Write(dir_ / "b-publisher.pem", pub);
    Write(dir_ / "a-private.pem", priv);
    Write(dir_ / "notes.txt", pub);  // other endings are not read
    std::vector<std::string> skipped;
    std::vector<TrustedKey> keys = LoadTrustedKeys({pub, "junk"}, {dir_}, &skipped);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].origin, "built in");
    EXPECT_EQ(keys[1].origin, (dir_ / "b-publisher.pem").string());
    EXPECT_EQ(skipped, (std::vector<std::string>{"built in", (dir_ / "a-private.pem").string()}));
    EXPECT_TRUE(LoadTrustedKeys({}, {dir_ / "missing"}).empty());
}

// A key that someone else may have put there is no key.
TEST_F(TempDirTest, KeysThatOthersMayWriteAreSkipped) {
    std::string priv, pub;
    ASSERT_TRUE(GenerateKeyPair(&priv, &pub));
    Write(dir_ / "open" / "k.pem", pub);
    Write(dir_ / "shut" / "k.pem", pub);
    Write(dir_ / "shut" / "shared.pem", pub);
    fs::permissions(dir_ / "open", fs::perms(0777));
    fs::permissions(dir_ / "shut", fs::perms(0755));
    fs::permissions(dir_ / "shut" / "shared.pem", fs::perms(0666));
    std::vector<std::string> skipped;
    std::vector<TrustedKey> keys = LoadTrustedKeys({}, {dir_ / "open", dir_ / "shut"}, &skipped);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].origin, (dir_ / "shut" / "k.pem").string());
    EXPECT_EQ(skipped, (std::vector<std::string>{
                           (dir_ / "open" / "k.pem").string() + " (others may write it)",
                           (dir_ / "shut" / "shared.pem").string() + " (others may write it)"}));
}

// What is put in place is the copy that was checked, whatever happens to the
// downloaded file after the check.
TEST_F(TempDirTest, StagedCopyIsWhatLands) {
    std::string good_hash, bad_hash;
    ASSERT_TRUE(Sha256Hex("good", &good_hash));
    Write(dir_ / "temp" / "f.bin", "good");
    Write(dir_ / "app" / "f.bin", "old");
    fs::permissions(dir_ / "app" / "f.bin", fs::perms(0640));
    StagedFile staged;
    ASSERT_EQ(StageFile(dir_ / "temp" / "f.bin", dir_ / "app" / "f.bin", good_hash, false, &staged),
              StageResult::kStaged);
    EXPECT_EQ(fs::status(staged.folder).permissions() & fs::perms::all, fs::perms::owner_all);
    Write(dir_ / "temp" / "f.bin", "evil");  // changed after the check
    ASSERT_TRUE(CommitStaged(staged));
    EXPECT_EQ(ReadAll(dir_ / "app" / "f.bin"), "good");
    EXPECT_EQ(fs::status(dir_ / "app" / "f.bin").permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_FALSE(fs::exists(staged.folder));

    // Bytes that are not the expected ones never reach the target.
    std::string hash;
    EXPECT_EQ(StageFile(dir_ / "temp" / "f.bin", dir_ / "app" / "f.bin", good_hash, false, &staged,
                        &hash),
              StageResult::kChanged);
    ASSERT_TRUE(Sha256Hex("evil", &bad_hash));
    EXPECT_EQ(hash, bad_hash);
    EXPECT_EQ(ReadAll(dir_ / "app" / "f.bin"), "good");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "app"), fs::directory_iterator()), 1);
    // A link in place of the download is not followed.
    fs::remove(dir_ / "temp" / "f.bin");
    fs::create_symlink(dir_ / "app" / "f.bin", dir_ / "temp" / "f.bin");
    EXPECT_EQ(StageFile(dir_ / "temp" / "f.bin", dir_ / "app" / "g.bin", "", true, &staged),
              StageResult::kFailed);
    EXPECT_FALSE(fs::exists(dir_ / "app" / "g.bin"));
}

TEST(ManifestTime, ExpiryIsAStrictUtcTime) {
    int64_t t = 0;
    ASSERT_TRUE(ParseUtcTime("2027-01-08T03:50:07Z", &t));
    EXPECT_EQ(t, 1799380207);
    EXPECT_EQ(FormatUtcTime(t), "2027-01-08T03:50:07Z");
    for (const char* bad : {"2027-02-30T00:00:00Z", "2027-01-08 03:50:07Z", "2027-01-08T03:50:07",
                            "2027-13-01T00:00:00Z", "2027-01-08T24:00:00Z", "+027-01-08T03:50:07Z"})
        EXPECT_FALSE(ParseUtcTime(bad, &t)) << bad;
    Manifest m;
    std::string head = std::string(kManifestHeader) + "\nproduct demo\nsequence 3\n";
    ASSERT_TRUE(ParseManifest(head + "expires 2027-01-08T03:50:07Z\n", &m));
    EXPECT_EQ(m.expires, 1799380207);
    EXPECT_EQ(FormatManifest(m), head + "expires 2027-01-08T03:50:07Z\n");
    ASSERT_TRUE(ParseManifest(head, &m));
    EXPECT_EQ(m.expires, 0);  // the updater refuses it; the parser reads it
    EXPECT_FALSE(
        ParseManifest(head + "expires 2027-01-08T03:50:07Z\nexpires 2028-01-08T03:50:07Z\n", &m));
    EXPECT_FALSE(ParseManifest(head + "expires tomorrow\n", &m));
}

TEST_F(TempDirTest, PendingSumsSkipUnsafeAndShortLines) {
    auto sums =
        ParsePendingSums(kHash + " a.exe\n" + kHash + " ..\nshort a\n" + kHash + "\n" +
                         FormatPendingSum("b.exe", {kHash, "\\app dir", "\\app dir\\sub\\"}));
    ASSERT_EQ(sums.size(), 2u);
    EXPECT_EQ(sums["a.exe"].sha256, kHash);
    EXPECT_EQ(sums["a.exe"].list_dir, "");
    EXPECT_EQ(sums["a.exe"].destination, "");
    EXPECT_EQ(sums["b.exe"].list_dir, "\\app dir");
    EXPECT_EQ(sums["b.exe"].destination, "\\app dir\\sub\\");
}

TEST_F(TempDirTest, SignToolSignsRaisesTheSequenceAndVerifies) {
    fs::path folder = dir_ / "demo";
    std::string err;
    ASSERT_EQ(Tool({"keygen", (dir_ / "k.key").string(), (dir_ / "k.pem").string()}), 0);
    EXPECT_EQ(fs::status(dir_ / "k.key").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Tool({"keygen", (dir_ / "k.key").string(), (dir_ / "k2.pem").string()}), 1);
    ASSERT_EQ(Tool({"keygen", (dir_ / "o.key").string(), (dir_ / "o.pem").string()}), 0);

    Write(folder / "update.info", "<group_bin>\r\n<label>P\r\n<bin>sub\\a.exe 1.0\r\n");
    EXPECT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string()}, &err),
              1);  // a.exe missing
    EXPECT_NE(err.find("listed as sub\\a.exe"), std::string::npos) << err;
    Write(folder / "a.exe", "program");
    ASSERT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string()}), 0);
    Manifest m;
    std::ifstream in(folder / kManifestName);
    std::stringstream text;
    text << in.rdbuf();
    ASSERT_TRUE(ParseManifest(text.str(), &m));
    EXPECT_EQ(m.sequence, 1u);
    EXPECT_EQ(m.product, "demo");
    // Valid for 30 days unless the publisher says otherwise.
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(m.expires - now), 30 * 86400.0, 120.0);
    ASSERT_NE(m.Find("sub\\a.exe"), nullptr);
    EXPECT_EQ(m.Find("sub\\a.exe")->size, 7);
    EXPECT_EQ(Tool({"verify", folder.string(), (dir_ / "k.pem").string()}), 0);
    EXPECT_EQ(Tool({"verify", folder.string(), (dir_ / "o.pem").string()}), 1);
    EXPECT_EQ(Tool({"verify", folder.string(), (dir_ / "k.pem").string(), "--product", "x"}), 1);

    ASSERT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string()}), 0);
    EXPECT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string(), "--sequence", "2"}), 1);
    EXPECT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string(), "--valid-days", "0"}), 64);
    ASSERT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string(), "--sequence", "10",
                    "--valid-days", "2"}),
              0);
    std::ifstream in2(folder / kManifestName);
    std::stringstream text2;
    text2 << in2.rdbuf();
    ASSERT_TRUE(ParseManifest(text2.str(), &m));
    EXPECT_EQ(m.sequence, 10u);
    EXPECT_NEAR(static_cast<double>(m.expires - now), 2 * 86400.0, 120.0);

    // A manifest past its time, signed all the same, does not verify.
    m.expires = now - 1;
    std::string expired_sig;
    ASSERT_TRUE(SignData(FormatManifest(m), ReadAll(dir_ / "k.key"), &expired_sig));
    Write(folder / kManifestName, FormatManifest(m));
    Write(folder / kSignatureName, expired_sig);
    EXPECT_EQ(Tool({"verify", folder.string(), (dir_ / "k.pem").string()}, &err), 1);
    EXPECT_NE(err.find("the manifest expired at"), std::string::npos) << err;
    ASSERT_EQ(Tool({"sign", (dir_ / "k.key").string(), folder.string()}), 0);

    Write(folder / "a.exe", "changed");
    EXPECT_EQ(Tool({"verify", folder.string(), (dir_ / "k.pem").string()}, &err), 1);
    EXPECT_NE(err.find("a.exe differs"), std::string::npos) << err;
    EXPECT_EQ(Tool({"nonsense"}), 64);
}

}  // namespace
}  // namespace updater
