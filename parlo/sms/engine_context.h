// The parts of the document that the SMS engine works with. The document owns
// all of them; the engine's components keep this record of pointers.
#pragma once

#include <filesystem>
#include <mutex>
#include <vector>

#include "parlo/store/device_db.h"
#include "parlo/store/port_list.h"
#include "parlo/store/settings.h"

class CCordis;

namespace platform {
class Prompt;
class StringTable;
}  // namespace platform

namespace parlo {

class CEngineView;
class CErrorList;
class CMessageStore;

struct CEngineContext {
    CCordis* cordis = nullptr;
    CMessageStore* store = nullptr;
    const CSettings* settings = nullptr;
    // Guards *settings when the front end may change them while the engine
    // runs (null: nobody does).
    std::mutex* settings_mutex = nullptr;
    const std::vector<ModemEntry>* ports = nullptr;
    const std::vector<PhoneModelRecord>* phones = nullptr;
    const std::vector<OperatorRecord>* operators = nullptr;
    CErrorList* errors = nullptr;
    CEngineView* view = nullptr;  // never null once the engine runs
    platform::Prompt* prompt = nullptr;
    const platform::StringTable* strings = nullptr;
    std::filesystem::path dir;  // the data directory (vok.lock)

    // A copy of the settings taken under their lock.
    CSettings Settings() const {
        if (!settings_mutex)
            return *settings;
        std::lock_guard<std::mutex> lock(*settings_mutex);
        return *settings;
    }
};

}  // namespace parlo
