#include "parlo/app/error_hints.h"

#include <unistd.h>

#include <fstream>
#include <optional>

#include "parlo/app/parlo_doc.h"
#include "parlo/sms/phone_session.h"
#include "parlo/sms/synchronizer.h"
#include "parlo_strings.h"
#include "platform/device_users.h"
#include "platform/ports.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

bool Lists(const std::u16string& errors, unsigned id) {
    std::u16string text = strings::parlo().Load(id);
    return !text.empty() && errors.find(text) != std::u16string::npos;
}

// Programs of the suite that take "vok.lock" for a synchronisation.
bool IsOurs(const std::string& program) {
    return program == "parlo-cli" || program == "Parlo" || program == "Parlo.exe";
}

void AddLine(std::u16string* out, const std::u16string& line) {
    if (line.empty())
        return;
    if (!out->empty())
        *out += u"\n";
    *out += line;
}

// The program that runs as `pid`: its executable's name, else its comm.

}  // namespace

std::string PortUnknownHint(const std::string& port) {
    return "The port " + port +
           " is not known on this computer: no device is registered for it. Choose the "
           "phone's port in Options (\"Use port\"), or register the phone with 'parlo-cli "
           "modem add NAME PORT' or 'parlo-cli modem detect'.";
}

std::u16string UnknownOperatorHint() {
    return u"The operator of the SIM card is not in the device database (vok.dat), so "
           u"the SMS centre number is not known. Set the SMS centre by hand and the "
           u"synchronisation goes on: 'parlo-cli options use-smsc on smsc NUMBER', or "
           u"\"Use own SMS centre\" in the Options dialog.";
}

std::u16string LockHolderHint(const std::filesystem::path& dir) {
    std::vector<platform::DeviceUser> users = platform::DeviceUsers((dir / "vok.lock").string());
    if (users.empty())
        return u"";
    const platform::DeviceUser& u = users.front();
    std::string pid = std::to_string(u.pid);
    if (IsOurs(u.program)) {
        return platform::FromUtf8("A synchronisation is already running (" + u.program +
                                  ", process " + pid + "). Try again when it has finished.");
    }
    return platform::FromUtf8((u.program.empty() ? std::string("Another program") : u.program) +
                              " (process " + pid +
                              ") is using the phone (it holds vok.lock). Try again when it "
                              "has finished.");
}

std::u16string SyncHolderHint(const SyncHolder& holder) {
    const std::string who = SyncHolderName(holder);
    switch (holder.kind) {
        case SyncKind::kPhonebook:
            return platform::FromUtf8("The phonebook is being synchronised (" + who +
                                      "). Synchronise the messages when it has finished.");
        case SyncKind::kCall:
            return platform::FromUtf8("The phone is dialling a number from the phonebook (" + who +
                                      "). Try again when the call has been set up.");
        case SyncKind::kMessages:
            break;
    }
    return platform::FromUtf8("The messages are being synchronised (" + who +
                              "). Try again when it has finished.");
}

std::u16string ErrorHints(CParloDoc& doc, const std::u16string& errors) {
    std::u16string out;
    if (Lists(errors, IDS_SYNC_RUNNING)) {
        std::optional<SyncHolder> holder = doc.m_engine->m_sync.BlockedBy();
        if (!holder)
            holder = CSyncLock::Holder(doc.m_dataDir);
        if (holder)
            AddLine(&out, SyncHolderHint(*holder));
    }
    if (Lists(errors, IDS_CONNECTION_ACTIVE))
        AddLine(&out, LockHolderHint(doc.m_dataDir));
    if (Lists(errors, IDS_UNKNOWN_ISP) || Lists(errors, IDS_ISP_NOT_FOUND))
        AddLine(&out, UnknownOperatorHint());
    if (Lists(errors, IDS_NO_PORT) || Lists(errors, IDS_NO_ANSWER) ||
        Lists(errors, IDS_SYNC_FAILED)) {
        std::string port = platform::ToUtf8(doc.m_engine->m_session.PortName());
        auto device = platform::ResolvePort(doc.m_registry, port);
        if (!device && !port.empty()) {
            AddLine(&out, platform::FromUtf8(PortUnknownHint(port)));
        } else if (device) {
            std::string name = platform::ToUtf8(doc.m_engine->m_session.Connection().m_strName);
            // The port the run used, by the name the user chose and as a device.
            std::string why = "The phone's port is " + port +
                              (*device == port ? std::string() : " (" + *device + ")") + ".\n";
            if (Lists(errors, IDS_NO_PORT))
                why = platform::ExplainOpenFailure(*device);
            why +=
                platform::ExplainDeviceHolders(*device, platform::FindDeviceHolders(*device), name);
            while (!why.empty() && why.back() == '\n')
                why.pop_back();
            AddLine(&out, platform::FromUtf8(why));
        }
    }
    return out;
}

}  // namespace parlo
