// Runs the built phonesim as a child process for tests of any part of the
// suite: give it a state file and options, get the device path, make
// messages arrive, read the state file back. The phone is stopped when the
// object goes away.
//
//   phonesim::testing::PhonesimProcess phone;
//   ASSERT_TRUE(phone.Start(dir / "phone.json", {"--echo", "off"}));
//   OpenYourPort(phone.device());
//   ...
//   nlohmann::json state = phone.ReadState();
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace phonesim::testing {

// The phonesim program: $SKYVANE_BIN_DIR/phonesim (CTest sets it), else the
// build's bin directory.
std::filesystem::path PhonesimProgram();

// The default phone's state as JSON, to be changed by a test and written
// with WriteState.
nlohmann::json DefaultState();
// Writes a state file (atomically).
bool WriteState(const std::filesystem::path& path, const nlohmann::json& state);

// An SMS-DELIVER PDU (hexadecimal, SMS centre field first) from `from` with
// the UTF-8 `text` (GSM 7-bit, or UCS2 when needed), time stamped now.
std::string MakeDeliverPdu(const std::string& from, const std::string& text,
                           const std::string& smsc = "+491710760000");
// An SMS-SUBMIT PDU to `to` with a 7-bit text, no SMS centre field (length
// octet 0), as a client sends it with AT+CMGS. `tpdu_length` gets the
// length AT+CMGS takes.
std::string MakeSubmitPdu(const std::string& to, const std::string& text, int* tpdu_length);

class PhonesimProcess {
  public:
    PhonesimProcess() = default;
    ~PhonesimProcess();
    PhonesimProcess(const PhonesimProcess&) = delete;
    PhonesimProcess& operator=(const PhonesimProcess&) = delete;

    // Starts phonesim --state `state_file` --control <socket> `args`... and
    // reads the device path (and the alias with --register). False when it
    // does not come up within 10 seconds.
    bool Start(const std::filesystem::path& state_file, const std::vector<std::string>& args = {});

    const std::string& device() const { return device_; }
    const std::string& alias() const { return alias_; }
    pid_t pid() const { return pid_; }
    const std::filesystem::path& state_file() const { return state_file_; }

    // The state file with every change the phone made so far (a running
    // phone is asked to write it first); null JSON when it cannot be read.
    nlohmann::json ReadState() const;
    // Polls the state file until `pred` holds; false after `timeout_ms`.
    bool WaitForState(const std::function<bool(const nlohmann::json&)>& pred,
                      int timeout_ms = 10000) const;

    // One control command; returns the answer line ("OK ...", "ERROR ...") or
    // "" when the phone cannot be reached.
    std::string Control(const std::string& line) const;
    // A new message in `storage` ("" for the phone's storage for received
    // messages), announced with "+CMTI" when `notify`, else stored silently.
    // Returns the index, 0 on failure.
    int AddIncoming(const std::string& storage, const std::string& pdu_hex, bool notify) const;
    // Rereads the state file (after a test changed it with WriteState).
    bool Reload() const;

    bool Running();
    // Waits up to `timeout_ms` for the phone to end by itself; its exit
    // status, or -1 when it still runs.
    int Wait(int timeout_ms);
    // SIGTERM (then SIGKILL after 5 s); the exit status, -1 when not started.
    int Stop();

  private:
    pid_t pid_ = -1;
    int stdout_fd_ = -1;
    int status_ = -1;
    std::string device_;
    std::string alias_;
    std::filesystem::path state_file_;
    std::filesystem::path socket_dir_;
    std::filesystem::path socket_;
};

}  // namespace phonesim::testing
