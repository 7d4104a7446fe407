// parlo-cli complete commands|folders|modems: the names that the shell's
// completion offers, one a line. Only reads: the folder table and the modems
// come from the registry, without the message store.
#include <ostream>

#include "parlo/cli/cli.h"
#include "parlo/cli/commands.h"
#include "parlo/store/folder_table.h"
#include "parlo/store/modems.h"
#include "parlo_strings.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace cli {

int CmdComplete(Context& ctx) {
    const std::string what = ctx.args.size() == 1 ? ctx.args[0] : "";
    if (what == "commands") {
        for (const Command& c : Commands())
            ctx.out << c.name << "\n";
        return kOk;
    }
    if (what == "folders") {
        parlo::CFolderTable folders;
        if (folders.Load(platform::Registry::Device(), strings::parlo()) !=
            parlo::FolderResult::kOk)
            return kFailed;
        for (parlo::CSmsFolder* f : folders.All())
            ctx.out << platform::ToUtf8(f->m_strName) << "\n";
        return kOk;
    }
    if (what == "modems") {
        for (const parlo::ExtModem& m : parlo::ListExtModems(platform::Registry::Device())) {
            if (m.friendly_name)
                ctx.out << *m.friendly_name << "\n";
        }
        return kOk;
    }
    ctx.err << "usage: parlo-cli complete commands|folders|modems\n";
    return kUsage;
}

}  // namespace cli
