#include "parlo/cli/store_cli.h"

#include <algorithm>
#include <cstdlib>

#include "parlo/store/message_ids.h"
#include "platform/text.h"

namespace cli {

using parlo::CParloDoc;
using parlo::CSmsMessage;

bool OpenStoreDoc(Context& ctx, CParloDoc& doc) {
    (void)ctx;
    parlo::StartOptions options;
    options.require_ports = false;
    options.auto_sync = false;
    return doc.Start(nullptr, options);
}

bool PickRecords(Context& ctx, CParloDoc& doc, const std::vector<std::string>& ids,
                 std::vector<Picked>* out) {
    const parlo::CMessageIds table(doc.Store().Snapshot());
    for (const std::string& id : ids) {
        CSmsMessage* rec = nullptr;
        switch (table.Resolve(id, &rec)) {
            case parlo::CMessageIds::Found::kOne:
                out->push_back({rec, id});
                continue;
            case parlo::CMessageIds::Found::kMalformed:
                ctx.err << "parlo-cli: '" << id << "' is not a message id (see 'parlo-cli list')\n";
                return false;
            case parlo::CMessageIds::Found::kNone:
                ctx.err << "parlo-cli: no message with id " << id
                        << ": the store changed since you listed it (see 'parlo-cli list')\n";
                return false;
            case parlo::CMessageIds::Found::kAmbiguous:
                ctx.err << "parlo-cli: id " << id
                        << " names more than one message: the store changed since you listed it "
                           "(see 'parlo-cli list')\n";
                return false;
        }
    }
    return true;
}

bool StillStored(Context& ctx, CParloDoc& doc, const std::vector<Picked>& picked) {
    doc.TakeInChanges();
    for (const Picked& p : picked) {
        CSmsMessage now;
        if (!doc.Store().Read(p.rec, &now)) {
            ctx.err << "parlo-cli: message " << p.id
                    << " is gone: the store changed since you listed it; nothing was done\n";
            return false;
        }
    }
    return true;
}

parlo::CSmsFolder* FindFolder(CParloDoc& doc, const std::string& name) {
    std::u16string wide = platform::FromUtf8(name);
    if (parlo::CSmsFolder* f = doc.Folders().ByName(wide))
        return f;
    for (parlo::CSmsFolder* f : doc.Folders().All()) {
        if (platform::EqualsNoCase(platform::ToUtf8(f->m_strName), name))
            return f;
    }
    if (!name.empty() && name.size() < 6 &&
        name.find_first_not_of("0123456789") == std::string::npos) {
        return doc.Folders().ById(std::atoi(name.c_str()));
    }
    return nullptr;
}

std::string StateName(CParloDoc& doc, const CSmsMessage& rec) {
    switch (rec.m_nState) {
        case parlo::STATE_UNREAD:
            return "unread";
        case parlo::STATE_READ:
            return "read";
        case parlo::STATE_PHONE_SENT:
            return "phone-sent";
        case parlo::STATE_OUTBOX:
            return "outbox";
        case parlo::STATE_DRAFT:
            return "draft";
        case parlo::STATE_TEMPLATE:
            return "template";
        case parlo::STATE_SENT:
            return "sent";
        case parlo::STATE_DELETED:
            return "deleted";
        case parlo::STATE_PHONE_DELETE:
            return "phone-delete";
        case parlo::STATE_PURGED:
            return "purged";
        case parlo::STATE_OUTBOX_PUSH:
            return "outbox-push";
        case parlo::STATE_IN_FOLDER: {
            parlo::CSmsFolder* f = doc.Folders().ById(rec.m_nFolderId);
            return "folder " +
                   (f ? platform::ToUtf8(f->m_strName) : std::to_string(rec.m_nFolderId));
        }
        default:
            return "state " + std::to_string(rec.m_nState);
    }
}

std::string OneLine(const std::u16string& text, size_t max) {
    // Most texts are ASCII without line breaks: the characters as they are,
    // cut where the general way below would cut them.
    if (max == 0 || max >= 3) {
        const size_t look = max ? std::min(text.size(), max + 1) : text.size();
        size_t i = 0;
        while (i < look && text[i] < 0x80 && text[i] != u'\n' && text[i] != u'\r')
            ++i;
        if (i == look) {
            const bool cut = max && text.size() > max;
            std::string out(cut ? max : text.size(), '.');
            const size_t keep = cut ? max - 3 : text.size();
            for (size_t k = 0; k < keep; ++k)
                out[k] = static_cast<char>(text[k]);
            return out;
        }
    }
    std::u16string line;
    line.reserve(max ? std::min(text.size(), max + 1) : text.size());
    for (char16_t c : text) {
        if (c == u'\n') {
            if (line.empty() || line.back() != u' ')
                line += u' ';
        } else if (c != u'\r') {
            line += c;
        }
        if (max && line.size() > max) {
            line.resize(max - 3);
            line += u"...";
            break;
        }
    }
    return platform::ToUtf8(line);
}

bool ParseOnOff(const std::string& word, int* out) {
    if (word == "on" || word == "yes" || word == "1") {
        *out = 1;
        return true;
    }
    if (word == "off" || word == "no" || word == "0") {
        *out = 0;
        return true;
    }
    return false;
}

}  // namespace cli
