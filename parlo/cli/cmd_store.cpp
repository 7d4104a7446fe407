// parlo-cli list, show, read, delete, move, empty-recycle-bin and folders:
// the message store and the folders, without the phone.
#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/store_cli.h"
#include "parlo/sms/sms_joiner.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/store/message_ids.h"
#include "parlo/store/parts_table.h"
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

// Columns as wide as their widest cell, counted in characters: a long
// folder name or number does not push the text out of line.
size_t Width(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Appends `cell` padded with blanks to `width` characters.
void AppendPadded(std::string& out, const std::string& cell, size_t width) {
    out += cell;
    size_t w = Width(cell);
    if (w < width)
        out.append(width - w, ' ');
}

// The number of characters of `text` once it is UTF-8 (a lone surrogate
// becomes one replacement character), without converting it.
size_t Chars(std::u16string_view text) {
    size_t n = text.size();
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            --n;
            ++i;
        }
    }
    return n;
}

// The parts table of the document's store (empty when there is none).
parlo::CPartsFile LoadParts(CParloDoc& doc) {
    parlo::CPartsFile file;
    parlo::CPartsTable(doc.Store().StorePath().parent_path()).Load(&file);
    return file;
}

// "part 2: SIM (SM) slot 4", one line per part of a joined message.
void PrintParts(std::ostream& out, const parlo::CPartGroup& g) {
    out << "Parts:       " << g.Received() << " of " << g.m_nTotal << " received"
        << (g.Complete() ? "" : " (incomplete)") << "\n";
    for (int32_t k = 1; k <= g.m_nTotal; ++k) {
        out << "  part " << k << ": ";
        bool any = false;
        for (const parlo::CStoredPart& p : g.m_parts) {
            if (p.m_nSeq != k)
                continue;
            out << (any ? ", " : "");
            any = true;
            if (p.m_nSlot < 0)
                out << "received, no longer on the phone";
            else
                out << "received, "
                    << (p.m_nStorage == parlo::STORAGE_SIM ? "SIM (SM)" : "phone memory (ME)")
                    << " slot " << p.m_nSlot;
        }
        out << (any ? "" : "missing") << "\n";
    }
}

// The records list[i] for i in `rows` as a table (id, state, time, number,
// the text on one line). The widths are measured first, then each line is
// formatted straight into an output buffer that is written in large pieces:
// a list of 100,000 messages keeps no row objects and makes no stream call
// per cell.
void PrintTable(std::ostream& out, CParloDoc& doc, const std::vector<CSmsMessage*>& list,
                const std::vector<size_t>& rows) {
    const parlo::CPartsFile parts = LoadParts(doc);
    const parlo::CPartsLookup joined(parts);
    // Neighbouring records mostly share their state: its name is looked up
    // again only when the state or folder differs from the row before.
    int32_t named_state = -1, named_folder = -1;
    std::string state_name;
    auto state_of = [&](const CSmsMessage& rec) -> const std::string& {
        if (rec.m_nState != named_state || rec.m_nFolderId != named_folder) {
            named_state = rec.m_nState;
            named_folder = rec.m_nFolderId;
            state_name = StateName(doc, rec);
        }
        return state_name;
    };
    // Ids are worked out over the whole store: a collision with a record of
    // another folder makes an id longer here too.
    const parlo::CMessageIds table(list);
    std::vector<std::string> ids(rows.size());
    size_t id_w = Width("ID");
    size_t state_w = Width("STATE"), time_w = Width("TIME"), number_w = Width("NUMBER");
    std::vector<uint32_t> number_chars(rows.size());
    for (size_t k = 0; k < rows.size(); ++k) {
        const CSmsMessage& rec = *list[rows[k]];
        ids[k] = table.IdOf(&rec);
        id_w = std::max(id_w, ids[k].size());
        state_w = std::max(state_w, Width(state_of(rec)));
        time_w = std::max(time_w, Width(rec.m_time.Format()));
        number_chars[k] = static_cast<uint32_t>(Chars(rec.m_strNumber));
        number_w = std::max<size_t>(number_w, number_chars[k]);
    }
    constexpr size_t kPiece = size_t{1} << 20;
    std::string text;
    text.reserve(kPiece + 1024);
    AppendPadded(text, "ID", id_w);
    text += "  ";
    AppendPadded(text, "STATE", state_w);
    text += "  ";
    AppendPadded(text, "TIME", time_w);
    text += "  ";
    AppendPadded(text, "NUMBER", number_w);
    text += "  TEXT\n";
    for (size_t k = 0; k < rows.size(); ++k) {
        const CSmsMessage& rec = *list[rows[k]];
        AppendPadded(text, ids[k], id_w);
        text += "  ";
        AppendPadded(text, state_of(rec), state_w);
        text += "  ";
        AppendPadded(text, rec.m_time.Format(), time_w);
        text += "  ";
        text += platform::ToUtf8(rec.m_strNumber);
        if (number_chars[k] < number_w)
            text.append(number_w - number_chars[k], ' ');
        text += "  ";
        const parlo::CPartGroup* g = joined.empty() ? nullptr : joined.Find(rec);
        if (g && !g->Complete())
            text += "(incomplete) ";
        text += OneLine(rec.m_strText, 50);
        text += '\n';
        if (text.size() >= kPiece) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            text.clear();
        }
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
}

// The records named by ids; reports the bad ones.
bool Records(Context& ctx, CParloDoc& doc, const std::vector<std::string>& ids,
             std::vector<Picked>* out) {
    if (ids.empty()) {
        ctx.err << "parlo-cli: no message id given (see 'parlo-cli list')\n";
        return false;
    }
    return PickRecords(ctx, doc, ids, out);
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
    std::vector<CSmsMessage*> list = doc.Store().Snapshot();
    std::vector<size_t> rows;
    rows.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        if (!folder || InFolder(*list[i], *folder))
            rows.push_back(i);
    }
    PrintTable(ctx.out, doc, list, rows);
    return kOk;
}

int CmdShow(Context& ctx) {
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    std::vector<Picked> recs;
    if (!Records(ctx, doc, ctx.args, &recs))
        return ctx.args.empty() ? kUsage : kFailed;
    const parlo::CPartsFile parts = LoadParts(doc);
    const parlo::CPartsLookup joined(parts);
    for (const auto& [rec, id] : recs) {
        const char* storage = rec->m_nStorage == parlo::STORAGE_PHONE      ? "phone memory (ME)"
                              : rec->m_nStorage == parlo::STORAGE_SIM      ? "SIM (SM)"
                              : rec->m_nStorage == parlo::STORAGE_POCKETPC ? "this computer"
                                                                           : "unknown";
        ctx.out << "Id:          " << id << "\n"
                << "State:       " << StateName(doc, *rec) << " (" << rec->m_nState << ")\n"
                << "Number:      " << platform::ToUtf8(rec->m_strNumber) << "\n"
                << "Time:        " << rec->m_time.Format() << "\n"
                << "Marked:      " << (rec->m_bMarked ? "yes" : "no") << "\n"
                << "Storage:     " << storage << "\n"
                << "Phone index: " << rec->m_nPhoneIndex << "\n"
                << "File offset: " << rec->m_nFileOffset << "\n";
        if (const parlo::CPartGroup* g = joined.Find(*rec))
            PrintParts(ctx.out, *g);
        ctx.out << "Text:\n" << platform::ToUtf8(rec->m_strText) << "\n\n";
    }
    return kOk;
}

int CmdRead(Context& ctx) {
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    std::vector<Picked> recs;
    if (!Records(ctx, doc, ctx.args, &recs))
        return ctx.args.empty() ? kUsage : kFailed;
    if (!StillStored(ctx, doc, recs))
        return kFailed;
    int status = kOk;
    for (const auto& [rec, id] : recs) {
        if (rec->m_nState != parlo::STATE_UNREAD) {
            ctx.err << "parlo-cli: message " << id << " is not unread\n";
            continue;
        }
        if (!doc.MarkRead(rec)) {
            ctx.err << "parlo-cli: message " << id << " could not be stored\n";
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
    std::vector<Picked> recs;
    if (!Records(ctx, doc, ids, &recs))
        return kFailed;
    if (!StillStored(ctx, doc, recs))
        return kFailed;
    // The records are marked in the list of their folder and deleted there,
    // one folder after the other, as "Delete SMS" does on the current list.
    std::map<int, std::vector<CSmsMessage*>> by_view;
    for (const auto& [rec, id] : recs) {
        int v = parlo::ViewOfState(rec->m_nState);
        if (v == parlo::VIEW_NONE) {
            ctx.err << "parlo-cli: message " << id << " is in no folder and cannot be deleted\n";
            return kFailed;
        }
        by_view[v].push_back(rec);
    }
    int status = kOk;
    for (auto& [v, group] : by_view) {
        doc.SetMarks(group, true);
        if (!doc.DeleteMarked(mode, v, group, nullptr)) {
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
    std::vector<Picked> recs;
    if (!Records(ctx, doc, {ctx.args.begin() + 1, ctx.args.end()}, &recs))
        return kFailed;
    if (!StillStored(ctx, doc, recs))
        return kFailed;
    int status = kOk;
    for (const auto& [rec, id] : recs) {
        rec->m_bMarked = 0;
        if (!doc.MoveToFolder(rec, folder->m_nId)) {
            ctx.err << "parlo-cli: message " << id << " could not be stored\n";
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
        std::vector<CSmsMessage*> list = doc.Store().Snapshot();
        ctx.out << "   ID  MESSAGES  NAME\n";
        for (CSmsFolder* f : doc.Folders().All()) {
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
            return doc.RenameFolder(f, platform::FromUtf8(a[2])) ? kOk : kFailed;
        }
        return doc.DeleteFolder(f) ? kOk : kFailed;
    }
    ctx.err << "usage: parlo-cli folders [list|add NAME|rename FOLDER NEWNAME|delete FOLDER]\n";
    return kUsage;
}

// An Outbox message whose sending timed out after it went to the phone may
// have been sent: the synchronisation holds it until it is released here.
int CmdRelease(Context& ctx) {
    parlo::NullParloView view;
    CParloDoc doc(&view, &ctx.prompt);
    if (!OpenStoreDoc(ctx, doc))
        return kFailed;
    auto held = [](const CSmsMessage& m) { return CParloDoc::IsHeld(m); };
    if (ctx.args.empty()) {
        std::vector<CSmsMessage*> list = doc.Store().Snapshot();
        std::vector<size_t> rows;
        for (size_t i = 0; i < list.size(); ++i) {
            if (held(*list[i]))
                rows.push_back(i);
        }
        const size_t count = rows.size();
        if (count > 0) {
            ctx.out << "Held in the Outbox (they may have gone out already):\n";
            PrintTable(ctx.out, doc, list, rows);
        }
        if (count == 0)
            ctx.out << "No message is held in the Outbox.\n";
        else
            ctx.out << "Release with 'parlo-cli release ID...' to have them sent at the next "
                       "synchronisation.\n";
        return kOk;
    }
    std::vector<Picked> recs;
    if (!Records(ctx, doc, ctx.args, &recs))
        return kFailed;
    if (!StillStored(ctx, doc, recs))
        return kFailed;
    for (const auto& [rec, id] : recs) {
        if (!held(*rec)) {
            ctx.err << "parlo-cli: message " << id << " is not held\n";
            return kFailed;
        }
    }
    for (const auto& [rec, id] : recs) {
        if (!doc.ReleaseHeld(rec)) {
            ctx.err << "parlo-cli: Save failed.\n";
            return kFailed;
        }
        ctx.out << "Released message " << id << ".\n";
    }
    return kOk;
}

}  // namespace cli
