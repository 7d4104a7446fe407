// parlo-cli list, show, read, delete, move, empty-recycle-bin and folders:
// the message store and the folders, without the phone.
#include <iomanip>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/store_cli.h"
#include "platform/text.h"

namespace cli {

namespace {

using parlo::CParloDoc;
using parlo::CSmsFolder;
using parlo::CSmsMessage;

// True when `rec` is shown in `folder`'s list.
bool InFolder(const CSmsMessage& rec, const CSmsFolder& folder) {
    if (folder.IsUserFolder())
        return rec.m_nState == parlo::STATE_IN_FOLDER && rec.m_nFolderId == folder.m_nId;
    int view = parlo::ViewOfFolder(folder.m_nId);
    return view != parlo::VIEW_NONE && parlo::ViewOfState(rec.m_nState) == view;
}

void PrintRow(std::ostream& out, CParloDoc& doc, int id, const CSmsMessage& rec) {
    out << std::setw(5) << id << "  " << std::left << std::setw(13) << StateName(doc, rec)
        << std::setw(21) << rec.m_time.Format() << std::setw(17)
        << platform::ToUtf8(rec.m_strNumber) << std::right << OneLine(rec.m_strText, 50) << "\n";
}

// The records named by ids; reports the bad ones.
bool Records(Context& ctx, CParloDoc& doc, const std::vector<std::string>& ids,
             std::vector<CSmsMessage*>* out) {
    if (ids.empty()) {
        ctx.err << "parlo-cli: no message id given (see 'parlo-cli list')\n";
        return false;
    }
    for (const std::string& id : ids) {
        CSmsMessage* rec = FindRecord(doc, id);
        if (!rec) {
            ctx.err << "parlo-cli: no message with id " << id << "\n";
            return false;
        }
        out->push_back(rec);
    }
    return true;
}

}  // namespace

int CmdList(Context& ctx) {
    if (ctx.args.size() > 1) {
        ctx.err << "usage: parlo-cli list [FOLDER|all]\n";
        return kUsage;
    }
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    CSmsFolder* folder = nullptr;
    if (!ctx.args.empty() && ctx.args[0] != "all") {
        folder = FindFolder(doc, ctx.args[0]);
        if (!folder) {
            ctx.err << "parlo-cli: no folder named '" << ctx.args[0]
                    << "' (see 'parlo-cli folders list')\n";
            return kFailed;
        }
    }
    ctx.out << "   ID  STATE        TIME                 NUMBER           TEXT\n";
    std::vector<CSmsMessage*> list = doc.m_store.Snapshot();
    for (size_t i = 0; i < list.size(); ++i) {
        if (folder && !InFolder(*list[i], *folder))
            continue;
        PrintRow(ctx.out, doc, static_cast<int>(i + 1), *list[i]);
    }
    return kOk;
}

int CmdShow(Context& ctx) {
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    std::vector<CSmsMessage*> recs;
    if (!Records(ctx, doc, ctx.args, &recs))
        return ctx.args.empty() ? kUsage : kFailed;
    for (CSmsMessage* rec : recs) {
        const char* storage = rec->m_nStorage == parlo::STORAGE_PHONE      ? "phone memory (ME)"
                              : rec->m_nStorage == parlo::STORAGE_SIM      ? "SIM (SM)"
                              : rec->m_nStorage == parlo::STORAGE_POCKETPC ? "this computer"
                                                                           : "unknown";
        ctx.out << "Id:          " << RecordId(doc, rec) << "\n"
                << "State:       " << StateName(doc, *rec) << " (" << rec->m_nState << ")\n"
                << "Number:      " << platform::ToUtf8(rec->m_strNumber) << "\n"
                << "Time:        " << rec->m_time.Format() << "\n"
                << "Marked:      " << (rec->m_bMarked ? "yes" : "no") << "\n"
                << "Storage:     " << storage << "\n"
                << "Phone index: " << rec->m_nPhoneIndex << "\n"
                << "File offset: " << rec->m_nFileOffset << "\n"
                << "Text:\n"
                << platform::ToUtf8(rec->m_strText) << "\n\n";
    }
    return kOk;
}

int CmdRead(Context& ctx) {
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    std::vector<CSmsMessage*> recs;
    if (!Records(ctx, doc, ctx.args, &recs))
        return ctx.args.empty() ? kUsage : kFailed;
    int status = kOk;
    for (CSmsMessage* rec : recs) {
        if (rec->m_nState != parlo::STATE_UNREAD) {
            ctx.err << "parlo-cli: message " << RecordId(doc, rec) << " is not unread\n";
            continue;
        }
        if (!doc.MarkRead(rec)) {
            ctx.err << "parlo-cli: message " << RecordId(doc, rec) << " could not be stored\n";
            status = kFailed;
        }
    }
    return status;
}

int CmdDelete(Context& ctx) {
    int mode = parlo::DELETE_POCKETPC_ONLY;
    std::vector<std::string> ids;
    for (const std::string& a : ctx.args) {
        if (a == "--both")
            mode = parlo::DELETE_BOTH;
        else if (a == "--phone")
            mode = parlo::DELETE_PHONE_ONLY;
        else if (a == "--pc")
            mode = parlo::DELETE_POCKETPC_ONLY;
        else
            ids.push_back(a);
    }
    if (ids.empty()) {
        ctx.err << "usage: parlo-cli delete [--pc|--phone|--both] ID...\n";
        return kUsage;
    }
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    std::vector<CSmsMessage*> recs;
    if (!Records(ctx, doc, ids, &recs))
        return kFailed;
    // The records are marked in the list of their folder and deleted there,
    // one folder after the other, as "Delete SMS" does on the current list.
    std::map<int, std::vector<CSmsMessage*>> by_view;
    for (CSmsMessage* rec : recs) {
        int v = parlo::ViewOfState(rec->m_nState);
        if (v == parlo::VIEW_NONE) {
            ctx.err << "parlo-cli: message " << RecordId(doc, rec)
                    << " is in no folder and cannot be deleted\n";
            return kFailed;
        }
        by_view[v].push_back(rec);
    }
    int status = kOk;
    for (auto& [v, group] : by_view) {
        doc.m_nCurrentFolder = v;
        doc.SetMarks(group, true);
        if (!doc.DeleteMarked(mode, group, nullptr)) {
            doc.SetMarks(group, false);
            status = kFailed;
        }
    }
    return status;
}

int CmdMove(Context& ctx) {
    if (ctx.args.size() < 2) {
        ctx.err << "usage: parlo-cli move FOLDER ID...\n";
        return kUsage;
    }
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    CSmsFolder* folder = FindFolder(doc, ctx.args[0]);
    if (!folder) {
        ctx.err << "parlo-cli: no folder named '" << ctx.args[0] << "'\n";
        return kFailed;
    }
    std::vector<CSmsMessage*> recs;
    if (!Records(ctx, doc, {ctx.args.begin() + 1, ctx.args.end()}, &recs))
        return kFailed;
    int status = kOk;
    for (CSmsMessage* rec : recs) {
        rec->m_bMarked = 0;
        if (!doc.MoveToFolder(rec, folder->m_nId)) {
            ctx.err << "parlo-cli: message " << RecordId(doc, rec) << " could not be stored\n";
            status = kFailed;
        }
    }
    return status;
}

int CmdEmptyRecycleBin(Context& ctx) {
    if (!ctx.args.empty()) {
        ctx.err << "usage: parlo-cli empty-recycle-bin\n";
        return kUsage;
    }
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    return doc.EmptyRecycleBin() ? kOk : kFailed;
}

// "store recover": the whole records in "vok.sms.torn" that the store lacks
// come back.
int CmdStore(Context& ctx) {
    if (ctx.args.size() != 1 || ctx.args[0] != "recover") {
        ctx.err << "usage: parlo-cli store recover\n";
        return kUsage;
    }
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    size_t found = 0, added = 0;
    const bool ok = doc.RecoverTorn(&found, &added);
    ctx.out << "Found " << found << (found == 1 ? " message" : " messages") << " in vok.sms.torn; "
            << added << " taken back into the store";
    if (found > added)
        ctx.out << ", " << (found - added) << " already there or not stored";
    ctx.out << ".\n";
    return ok ? kOk : kFailed;
}

int CmdFolders(Context& ctx) {
    const std::vector<std::string>& a = ctx.args;
    const std::string sub = a.empty() ? "list" : a[0];
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    if (sub == "list" && a.size() <= 1) {
        std::vector<CSmsMessage*> list = doc.m_store.Snapshot();
        ctx.out << "   ID  MESSAGES  NAME\n";
        for (CSmsFolder* f : doc.m_folders.All()) {
            size_t n = 0;
            for (CSmsMessage* rec : list)
                n += InFolder(*rec, *f);
            ctx.out << std::setw(5) << f->m_nId << "  " << std::setw(8) << n << "  "
                    << platform::ToUtf8(f->m_strName) << "\n";
        }
        return kOk;
    }
    if (sub == "add" && a.size() == 2) {
        std::u16string name = parlo::TrimWhite(platform::FromUtf8(a[1]));
        if (name.empty()) {
            ctx.err << "parlo-cli: the folder needs a name\n";
            return kUsage;
        }
        CSmsFolder* f = doc.AddFolder(name);
        if (!f)
            return kFailed;
        ctx.out << "Folder " << f->m_nId << " added.\n";
        return kOk;
    }
    if ((sub == "rename" && a.size() == 3) || (sub == "delete" && a.size() == 2)) {
        CSmsFolder* f = FindFolder(doc, a[1]);
        if (!f || !f->IsUserFolder()) {
            ctx.err << "parlo-cli: no user folder named '" << a[1] << "'\n";
            return kFailed;
        }
        if (sub == "rename") {
            doc.RenameFolder(f, platform::FromUtf8(a[2]));
            return kOk;
        }
        return doc.DeleteFolder(f) ? kOk : kFailed;
    }
    ctx.err << "usage: parlo-cli folders [list|add NAME|rename FOLDER NEWNAME|delete FOLDER]\n";
    return kUsage;
}

}  // namespace cli
