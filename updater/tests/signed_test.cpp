// Signed update lists against a local server: with a trusted key only a list
// signed by it installs, files must match it, the sequence never goes back,
// waiting files are checked before "copy" moves them; https is verified.
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "updater/batch.h"
#include "updater/manifest.h"
#include "updater/sign.h"
#include "updater/tests/fixture.h"

namespace updater_test {
namespace {

using updater::Engine;

const char kAppInfo[] = "<VER>0.01\r\n<FILE>a.exe\t1.0\r\n<FILE>b.exe\t1.0\r\n";
const char kDemoList[] = "<group_bin>\r\n<label>Programs\r\n<bin>a.exe 2.0\r\n<bin>b.exe 2.0\r\n";

class SignedTest : public UpdaterFixture {
  protected:
    void SetUp() override {
        UpdaterFixture::SetUp();
        WriteFile(app_dir_ / "version.info", kAppInfo);
        WriteFile(app_dir_ / "a.exe", "old a");
        WriteFile(app_dir_ / "b.exe", "old b");
        key_ = base_ / "keys" / "publisher.key";
        Keygen(key_);
        fs::create_directories(KeysDir());
        fs::copy_file(base_ / "keys" / "publisher.pem", KeysDir() / "publisher.pem");
        Publish("updaterEng", "<ver>0.01\r\n<group_bin>\r\n<label>Updater\r\n<bin>updater 1.0\r\n",
                {{"updater", "u"}});
    }

    void TearDown() override {
        unsetenv("SKYVANE_UPDATE_CA_FILE");
        UpdaterFixture::TearDown();
    }

    void Keygen(const fs::path& key) {
        fs::create_directories(key.parent_path());
        std::ostringstream out, err;
        fs::path pub = key;
        pub.replace_extension(".pem");
        ASSERT_EQ(updater::RunSignTool({"keygen", key.string(), pub.string()}, out, err), 0)
            << err.str();
    }

    // Writes the folder of `product`, signs it with `key` and serves all of it.
    void Publish(const std::string& product, const std::string& list,
                 const std::map<std::string, std::string>& files, fs::path key = {},
                 std::vector<std::string> extra = {}) {
        fs::path folder = base_ / "pub" / product;
        WriteFile(folder / "update.info", list);
        for (const auto& [name, body] : files)
            WriteFile(folder / name, body);
        std::vector<std::string> args{"sign", (key.empty() ? key_ : key).string(), folder.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        std::ostringstream out, err;
        ASSERT_EQ(updater::RunSignTool(args, out, err), 0) << err.str();
        for (const auto& entry : fs::directory_iterator(folder)) {
            server_.SetFile("/auto_update/" + product + "/" + entry.path().filename().string(),
                            ReadFile(entry.path()));
        }
    }
    void PublishDemo() { Publish("demo", kDemoList, {{"a.exe", "new a"}, {"b.exe", "new b"}}); }

    // Serves `list` as the demo's update.info with a manifest signed over it
    // by the publisher's key, changed by `change` before it is signed.
    void ServeSigned(const std::string& list,
                     const std::function<void(updater::Manifest*)>& change = {}) {
        updater::Manifest m;
        ASSERT_TRUE(
            updater::ParseManifest(ReadFile(base_ / "pub" / "demo" / "update.manifest"), &m));
        for (updater::ManifestFile& f : m.files) {
            if (f.path == "update.info") {
                f.size = static_cast<int64_t>(list.size());
                ASSERT_TRUE(updater::Sha256Hex(list, &f.sha256));
            }
        }
        if (change)
            change(&m);
        std::string text = updater::FormatManifest(m), signature;
        ASSERT_TRUE(updater::SignData(text, ReadFile(key_), &signature));
        Serve("update.info", list);
        Serve("update.manifest", text);
        Serve("update.manifest.sig", signature);
    }

    void ExpectNothingInstalled() {
        EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "old a");
        EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "old b");
        EXPECT_EQ(ReadFile(app_dir_ / "version.info"), kAppInfo);
    }

    fs::path key_;
};

TEST_F(SignedTest, SignedTreeInstallsAndKeepsItsSequence) {
    PublishDemo();
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "new a");
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "new b");
    EXPECT_EQ(ReadFile(app_dir_ / "update.sequence"), "1\n");
    std::string log = Log();
    EXPECT_NE(log.find(": The update list of updaterEng is verified: sequence 1 \n"),
              std::string::npos);
    EXPECT_NE(log.find(": The update list of demo is verified: sequence 1 \n"), std::string::npos);
    // The same list again is accepted: nothing new.
    EXPECT_EQ(Batch(&out), updater::BATCH_NO_UPDATES) << out;
}

TEST_F(SignedTest, TamperedFileIsRefusedAndNothingIsInstalled) {
    const char* tampered[][2] = {
        {"bad b", "SHA-256 differs from the manifest"},  // same size, other bytes
        // asked for its size, the server gives another: never downloaded
        {"new b, longer", "the server announces 13 bytes, the manifest 5"},
    };
    for (auto [body, why] : tampered) {
        PublishDemo();
        Serve("b.exe", body);
        fs::remove(app_dir_ / "update.sequence");
        std::string out;
        ASSERT_EQ(Batch(&out), updater::BATCH_REFUSED) << out;
        EXPECT_NE(out.find("Error, the file b.exe is not the one the publisher signed. Nothing "
                           "was installed."),
                  std::string::npos)
            << out;
        ExpectNothingInstalled();  // a.exe arrived intact, but stays out too
        EXPECT_FALSE(fs::exists(Temp() / "a.exe"));
        EXPECT_FALSE(fs::exists(Temp() / "b.exe"));
        EXPECT_NE(Log().find(": Refused: file b.exe: " + std::string(why) + " \n"),
                  std::string::npos)
            << Log();
        // The list was not installed: its sequence is not kept.
        EXPECT_FALSE(fs::exists(app_dir_ / "update.sequence"));
    }
}

// A file that grows between the size query and its download stops at the
// signed size and is refused; nothing of it stays.
TEST_F(SignedTest, DownloadStopsAtTheSignedSize) {
    PublishDemo();
    Answer endless{200, std::string(1 << 20, 'x')};
    endless.send_length = false;
    for (const Answer& answer : {Answer{200, std::string(300, 'x')}, endless}) {
        Engine engine(MakeConfig());
        engine.StartUp(command_line_);
        ASSERT_EQ(engine.RunCheck(), 1);
        server_.Set("/auto_update/demo/b.exe", answer);
        engine.PrepareDownload();
        EXPECT_EQ(engine.RunDownload(), 2);
        EXPECT_TRUE(engine.refused());
        EXPECT_EQ(platform::ToUtf8(engine.error_text()),
                  "Error, the file b.exe is not the one the publisher signed. Nothing was "
                  "installed.");
        EXPECT_FALSE(fs::exists(Temp() / "b.exe"));
        engine.AbandonDownload();
        ExpectNothingInstalled();
        Serve("b.exe", "new b");
    }
}

TEST_F(SignedTest, UnverifiedListsAreRefused) {
    fs::path other_key = base_ / "other" / "other.key";
    Keygen(other_key);
    struct Case {
        const char* what;
        std::function<void()> spoil;
        const char* message;
        const char* log;
    };
    const Case cases[] = {
        {"tampered list",
         [&] { Serve("update.info", std::string(kDemoList) + "<bin>evil.exe 1.0\r\n"); },
         "Error, the update list does not match its signed manifest.",
         "update.info differs from the manifest"},
        {"list of the same length",
         [&] {
             std::string list = kDemoList;
             list.replace(list.find("b.exe 2.0"), 9, "b.exe 3.0");
             Serve("update.info", list);
         },
         "Error, the update list does not match its signed manifest.",
         "update.info differs from the manifest"},
        {"expired manifest",
         [&] {
             ServeSigned(kDemoList,
                         [](updater::Manifest* m) { m->expires = std::time(nullptr) - 60; });
         },
         "Error, the update list has expired: the publisher has not signed it again in time.",
         "the manifest of demo expired at"},
        {"manifest without expiry",
         [&] { ServeSigned(kDemoList, [](updater::Manifest* m) { m->expires = 0; }); },
         "Error, the update list has expired: the publisher has not signed it again in time.",
         "the manifest of demo carries no expiry time"},
        {"signed list naming a key folder",
         [&] {
             ServeSigned(std::string(kDemoList) + "<bin>\\keys\\k.pem 1.0\r\n",
                         [](updater::Manifest* m) {
                             m->files.push_back({"\\keys\\k.pem", 5, m->files[1].sha256});
                         });
         },
         "Error, the update list names an unsafe file path.",
         "which would be written into a folder of trusted keys"},
        {"signed unsafe path",
         [&] { ServeSigned(std::string(kDemoList) + "<bin>..\\a.exe 1.0\r\n"); },
         "Error, the update list names an unsafe file path.", "names an unsafe path"},
        {"no signature",
         [&] {
             server_.Set("/auto_update/demo/update.manifest.sig", {404, "gone"});
         },
         "Error, the update list is not signed.", "no update.manifest.sig for demo"},
        {"no manifest",
         [&] {
             server_.Set("/auto_update/demo/update.manifest", {404, "gone"});
         },
         "Error, the update list is not signed.", "no update.manifest for demo"},
        {"unknown key",
         [&] {
             Publish("demo", kDemoList, {{"a.exe", "new a"}, {"b.exe", "new b"}}, other_key);
         },
         "Error, the signature of the update list is not valid.", "is not valid for any"},
        {"tampered manifest",
         [&] {
             std::string m = ReadFile(base_ / "pub" / "demo" / "update.manifest");
             m.replace(m.find("sequence "), 10, "sequence 9");
             Serve("update.manifest", m);
         },
         "Error, the signature of the update list is not valid.", "is not valid for any"},
        {"other product",
         [&] {
             Publish("demo", kDemoList, {{"a.exe", "new a"}, {"b.exe", "new b"}}, {},
                     {"--product", "other"});
         },
         "Error, the update list does not match its signed manifest.", "the manifest is for other"},
        {"older sequence", [&] { WriteFile(app_dir_ / "update.sequence", "1000\n"); },
         "Error, the update list is older than the one installed before.",
         "lower than 1000 accepted before"},
    };
    for (const Case& c : cases) {
        PublishDemo();
        c.spoil();
        std::string out;
        EXPECT_EQ(Batch(&out), updater::BATCH_REFUSED) << c.what << "\n" << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.what << "\n" << out;
        EXPECT_NE(Log().find(c.log), std::string::npos) << c.what << "\n" << Log();
        ExpectNothingInstalled();
        for (const std::string& request : server_.Requests())
            EXPECT_EQ(request.find("a.exe"), std::string::npos) << c.what;
        if (std::string(c.what) != "older sequence") {
            EXPECT_FALSE(fs::exists(app_dir_ / "update.sequence")) << c.what;
        }
    }
    EXPECT_EQ(ReadFile(app_dir_ / "update.sequence"), "1000\n");  // kept, not lowered
}

TEST_F(SignedTest, WithoutTrustedKeyNothingIsVerified) {
    fs::remove(KeysDir() / "publisher.pem");
    WriteFile(KeysDir() / "junk.pem", "not a key");
    server_.SetFile("/auto_update/demo/update.info", kDemoList);
    Serve("a.exe", "new a");
    Serve("b.exe", "new b");
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "new b");
    EXPECT_NE(out.find("Application was successfully  updated.\n"
                       "The update was not verified: no trusted key.\n"),
              std::string::npos)
        << out;
    std::string log = Log();
    EXPECT_NE(log.find(": The update list of demo was not verified: no trusted key \n"),
              std::string::npos);
    EXPECT_NE(log.find(": Not a public key, skipped: " + (KeysDir() / "junk.pem").string() + " \n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(app_dir_ / "update.sequence"));

    // A private key copied by mistake, or the publisher's key in the
    // installation's folder (which updates can write): still unverified,
    // and said so every time.
    fs::copy_file(key_, KeysDir() / "publisher-private.pem");
    WriteFile(root_ / "keys" / "publisher.pem", ReadFile(base_ / "keys" / "publisher.pem"));
    WriteFile(app_dir_ / "version.info", kAppInfo);
    ASSERT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    EXPECT_NE(out.find("The update was not verified: no trusted key."), std::string::npos) << out;
    EXPECT_NE(Log().find(": Not read: " + (root_ / "keys" / "publisher.pem").string()),
              std::string::npos)
        << Log();
}

// No entry of a list, signed or not, writes into a folder of keys: the one
// the installation had, or the user's.
TEST_F(SignedTest, KeyFoldersAreNoTarget) {
    fs::remove(KeysDir() / "publisher.pem");
    const std::string attack =
        "<group_user>\r\n<label>Add-ons\r\n<usr>\\keys\\attacker.pem 1.0\r\n";
    server_.SetFile("/auto_update/demo/update.info", attack);
    Serve("attacker.pem", ReadFile(base_ / "keys" / "publisher.pem"));
    std::string out;
    EXPECT_EQ(Batch(&out), updater::BATCH_REFUSED) << out;
    EXPECT_NE(out.find("Error, the update list names an unsafe file path."), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "keys" / "attacker.pem"));

    // An application directory that holds the user's keys folder.
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>P\r\n<bin>keys\\attacker.pem 1.0\r\n");
    std::ostringstream stream;
    EXPECT_EQ(updater::RunBatch("-app:demo -path:" + KeysDir().parent_path().string(), MakeConfig(),
                                stream),
              updater::BATCH_REFUSED)
        << stream.str();
    EXPECT_FALSE(fs::exists(KeysDir() / "attacker.pem"));
    EXPECT_NE(Log().find("attacker.pem, which would be written into a folder of trusted keys"),
              std::string::npos);
}

TEST_F(SignedTest, FileChangedBeforeInstallationIsRefused) {
    PublishDemo();
    Engine engine(MakeConfig());
    engine.StartUp(command_line_);
    ASSERT_EQ(engine.RunCheck(), 1);
    EXPECT_TRUE(engine.list_verified());
    engine.PrepareDownload();
    ASSERT_EQ(engine.RunDownload(), 1);
    WriteFile(Temp() / "b.exe", "bad b");
    engine.Install();
    EXPECT_TRUE(engine.install_error());
    EXPECT_TRUE(engine.refused());
    EXPECT_EQ(platform::ToUtf8(engine.error_text()),
              "Error, the file b.exe changed after its download. Nothing was installed.");
    ExpectNothingInstalled();
}

TEST_F(SignedTest, FileChangedWhileWaitingForCopyIsRefused) {
    Publish("demo", std::string("<postresetcopy>\r\n") + kDemoList,
            {{"a.exe", "new a"}, {"b.exe", "new b"}});
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_RESTART_NEEDED) << out;
    EXPECT_TRUE(fs::exists(updater_dir_ / "postresetcopy.sum"));
    WriteFile(Temp() / "b.exe", "bad b");
    fs::path copy = fs::path(getenv("SKYVANE_BIN_DIR")) / "copy";
    int status = std::system((copy.string() + " 2>/dev/null").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "new a");  // unchanged: put in place
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "old b");
    EXPECT_FALSE(fs::exists(Temp() / "b.exe"));
    EXPECT_FALSE(fs::exists(updater_dir_ / "postresetcopy.sum"));
    // version.info named the new b.exe; it forgets it, so it is offered again.
    EXPECT_EQ(ReadFile(app_dir_ / "version.info"), "<VER>0.01\r\n<FILE>a.exe\t2.0\r\n");
    EXPECT_NE(Log().find(": Refused: b.exe changed while it waited in \\windows\\temp \n"),
              std::string::npos)
        << Log();
    ASSERT_EQ(Batch(&out), updater::BATCH_RESTART_NEEDED) << out;
    EXPECT_EQ(ReadFile(Temp() / "b.exe"), "new b");
    EXPECT_EQ(ReadFile(Temp() / "postresetcopy.ini"), "b.exe\n\\app\\\n");
}

// The sum of a waiting file names its destination too: a list changed to
// send the file elsewhere is refused.
TEST_F(SignedTest, WaitingFileSentElsewhereIsRefused) {
    Publish("demo", std::string("<postresetcopy>\r\n") + kDemoList,
            {{"a.exe", "new a"}, {"b.exe", "new b"}});
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_RESTART_NEEDED) << out;
    WriteFile(Temp() / "postresetcopy.ini", "a.exe\n\\app\\\nb.exe\n\\elsewhere\\\n");
    fs::path copy = fs::path(getenv("SKYVANE_BIN_DIR")) / "copy";
    int status = std::system((copy.string() + " 2>/dev/null").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "new a");
    EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "b.exe"));
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "old b");
    EXPECT_NE(Log().find(": Refused: b.exe was sent to another folder while it waited \n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(ReadFile(app_dir_ / "version.info"), "<VER>0.01\r\n<FILE>a.exe\t2.0\r\n");
}

// https: the certificate is verified always, and never left for plain http.
TEST_F(SignedTest, HttpsServerMustBeTrusted) {
    fs::remove(KeysDir() / "publisher.pem");
    std::string cert, key;
    ASSERT_TRUE(MakeSelfSignedCertificate(&cert, &key));
    TestServer tls;
    ASSERT_TRUE(tls.EnableTls(cert, key));
    tls.SetFile("/auto_update/updaterEng/update.info", "<ver>0.01\r\n");
    tls.SetFile("/auto_update/demo/update.info", kDemoList);
    tls.SetFile("/auto_update/demo/a.exe", "new a");
    tls.SetFile("/auto_update/demo/b.exe", "new b");
    setenv("SKYVANE_UPDATE_HOST", ("https://" + tls.host()).c_str(), 1);

    std::string out;
    EXPECT_EQ(Batch(&out), updater::BATCH_REFUSED) << out;
    EXPECT_NE(out.find("Error, the certificate of the update server is not trusted."),
              std::string::npos)
        << out;
    // The server sees the handshake broken off (a moment later, perhaps).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (tls.tls_handshakes_failed() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(tls.tls_handshakes_failed(), 0);
    EXPECT_NE(Log().find(": Refused: the certificate of https://" + tls.host()), std::string::npos);
    ExpectNothingInstalled();

    // Trusted through the CA file; a redirect to plain http is still refused.
    WriteFile(base_ / "ca.pem", cert);
    setenv("SKYVANE_UPDATE_CA_FILE", (base_ / "ca.pem").c_str(), 1);
    Answer redirect{302, ""};
    redirect.headers = "Location: http://" + server_.host() + "/auto_update/demo/b.exe\r\n";
    tls.Set("/auto_update/demo/b.exe", redirect);
    server_.SetFile("/auto_update/demo/b.exe", "plain b");
    EXPECT_EQ(Batch(&out), updater::BATCH_REFUSED) << out;
    EXPECT_NE(out.find("Error, the update server redirected to an insecure address."),
              std::string::npos)
        << out << ReadLog(root_ / "t.log");
    ExpectNothingInstalled();

    // The scheme is the same in capitals.
    setenv("SKYVANE_UPDATE_HOST", ("HTTPS://" + tls.host()).c_str(), 1);
    EXPECT_EQ(Batch(&out), updater::BATCH_REFUSED) << out;
    EXPECT_NE(out.find("Error, the update server redirected to an insecure address."),
              std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(Temp() / "b.exe"));
    ExpectNothingInstalled();

    // A file of certificate authorities that is not there is named as such.
    setenv("SKYVANE_UPDATE_CA_FILE", (base_ / "missing.pem").c_str(), 1);
    EXPECT_EQ(Batch(&out), updater::BATCH_ERROR) << out;
    EXPECT_NE(out.find("Error, the certificate authority file " + (base_ / "missing.pem").string() +
                       " can not be read."),
              std::string::npos)
        << out;
    setenv("SKYVANE_UPDATE_CA_FILE", (base_ / "ca.pem").c_str(), 1);

    tls.SetFile("/auto_update/demo/b.exe", "new b");
    EXPECT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "new b");
}

TEST_F(SignedTest, PlainRedirectsAreFollowed) {
    fs::remove(KeysDir() / "publisher.pem");
    Answer moved{301, ""};
    moved.headers = "Location: /mirror/update.info\r\n";
    server_.Set("/auto_update/demo/update.info", moved);
    server_.SetFile("/mirror/update.info", kDemoList);
    Serve("a.exe", "new a");
    Serve("b.exe", "new b");
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "new a");
}

}  // namespace
}  // namespace updater_test
