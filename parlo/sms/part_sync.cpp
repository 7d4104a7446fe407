// The synchronisation's side of concatenated messages: the parts read in a
// run are joined with those of earlier runs in the parts table, each message
// is kept as one record of the store, and the parts' slots are deleted once
// the message holding them is stored. See docs/store.md for the crash rules.
#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "cordis/cordis.h"
#include "parlo/sms/engine_view.h"
#include "parlo/sms/error_list.h"
#include "parlo/sms/pdu_codec.h"
#include "parlo/sms/sms_joiner.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/store/message_store.h"
#include "parlo/store/parts_table.h"
#include "platform/text.h"

namespace parlo {

namespace {

struct Slot {
    int32_t storage;
    int32_t slot;
    bool operator<(const Slot& o) const {
        return storage != o.storage ? storage < o.storage : slot < o.slot;
    }
};

// The first copy still on the phone, for the record's storage and index.
std::pair<int32_t, int32_t> RecordSlot(const CPartGroup& g) {
    const CStoredPart* best = nullptr;
    for (const CStoredPart& p : g.m_parts) {
        if (p.m_nSlot >= 0 && (!best || p.m_nSeq < best->m_nSeq))
            best = &p;
    }
    if (!best)
        return {STORAGE_POCKETPC, -1};
    return {best->m_nStorage, best->m_nSlot};
}

bool Linked(const CSmsMessage& m) {
    return m.m_nState != STATE_PURGED && m.m_nState != STATE_PHONE_DELETE;
}

}  // namespace

std::filesystem::path CSmsOperations::PartsDir() const {
    return ctx_.store->StorePath().parent_path();
}

bool CSmsOperations::TakePart(const CPduMessage& pdu, const CSmsMessage& msg) {
    CReadPart part;
    if (!PartFromPdu(pdu, &part))
        return false;
    part.m_part.m_nStorage = msg.m_nStorage;
    part.m_part.m_nSlot = msg.m_nPhoneIndex;
    part.m_part.m_nState = msg.m_nState;
    part.m_part.m_time = msg.m_time.m_dt;
    m_parts.push_back(std::move(part));
    return true;
}

bool CSmsOperations::StoreParts() {
    std::vector<CReadPart> parts;
    parts.swap(m_parts);
    if (parts.empty())
        return true;
    CPartsTable table(PartsDir());

    // 1. The parts go into the table first, with the text each message's
    // record had until now: a run that ends before the records are written
    // finds them by it and brings them up to date.
    CPartsFile file;
    std::set<uint32_t> touched;
    std::set<uint32_t> unread_added;
    PartsResult written = table.Update([&](CPartsFile& f) {
        CPartJoiner joiner(&f);
        std::vector<std::pair<uint32_t, std::u16string>> before;
        joiner.SetBeforeChange(
            [&before](const CPartGroup& g) { before.emplace_back(g.m_nId, JoinedText(g)); });
        bool changed = false;
        for (const CReadPart& p : parts) {
            CJoinResult r = joiner.Add(p);
            touched.insert(r.m_nGroup);
            if (r.m_fate == PartFate::kKnown)
                continue;
            changed = true;
            if (r.m_fate == PartFate::kAdded && p.m_part.m_nState == STATE_UNREAD)
                unread_added.insert(r.m_nGroup);
        }
        for (auto& [id, text] : before) {
            CPartGroup* g = f.Find(id);
            if (g && JoinedText(*g) != text && !IsGroupText(*g, text))
                g->m_priorTexts.push_back(std::move(text));
        }
        file = f;
        return changed;
    });
    if (written == PartsResult::kFailed) {
        ctx_.errors->Add(IDS_SAVE_FAILED);
        return false;  // nothing of them is held: no slot is deleted
    }

    // 2. One record per message: found by number, time and a text the
    // message had, completed in place, or added.
    std::unordered_map<uint32_t, CPartGroup*> groups;
    std::multimap<std::pair<std::u16string, double>, uint32_t> by_anchor;
    for (CPartGroup& g : file.m_groups) {
        if (touched.count(g.m_nId)) {
            groups[g.m_nId] = &g;
            by_anchor.emplace(std::make_pair(g.m_strNumber, g.m_anchor), g.m_nId);
        }
    }
    // Each message's record: the one holding the current text, else one
    // holding an earlier text. Any other is a copy that a run cut short left
    // behind (the new version appended, the old one not yet retired).
    std::unordered_map<uint32_t, CSmsMessage*> record;
    std::vector<CSmsMessage*> stale;
    {
        std::unordered_map<uint32_t, std::vector<std::pair<CSmsMessage*, bool>>> found;
        std::unordered_map<uint32_t, std::u16string> current;
        for (auto& [id, g] : groups)
            current[id] = JoinedText(*g);
        ctx_.store->ForEach([&](CSmsMessage& m) {
            if (!Linked(m))
                return;
            auto range = by_anchor.equal_range({m.m_strNumber, m.m_time.m_dt});
            for (auto it = range.first; it != range.second; ++it) {
                const bool now = m.m_strText == current[it->second];
                if (now || IsGroupText(*groups[it->second], m.m_strText)) {
                    found[it->second].emplace_back(&m, now);
                    break;
                }
            }
        });
        for (auto& [id, recs] : found) {
            auto keep =
                std::find_if(recs.begin(), recs.end(), [](const auto& r) { return r.second; });
            if (keep == recs.end())
                keep = recs.begin();
            record[id] = keep->first;
            for (auto it = recs.begin(); it != recs.end(); ++it) {
                if (it != keep)
                    stale.push_back(it->first);
            }
        }
    }
    for (CSmsMessage* rec : stale) {
        if (ctx_.store->Change(rec, [](CSmsMessage& m) { m.m_nState = STATE_PURGED; }) ==
            StoreResult::kOk)
            ctx_.view->MessageChanged(rec);
    }
    std::set<uint32_t> stored;
    bool save_failed = false;
    for (uint32_t id : touched) {
        const CPartGroup& g = *groups[id];
        const std::u16string text = JoinedText(g);
        const int32_t natural = GroupState(g);
        const bool unread = unread_added.count(id) > 0;
        auto found = record.find(id);
        if (found != record.end()) {
            CSmsMessage* rec = found->second;
            CSmsMessage now;
            if (!ctx_.store->Read(rec, &now))
                now.m_nState = STATE_PURGED;
            if (now.m_strText == text && Linked(now)) {
                stored.insert(id);
                continue;
            }
            StoreResult r = ctx_.store->Change(
                rec,
                [&](CSmsMessage& m) {
                    m.m_strText = text;
                    // Another program may have purged it meanwhile: the message
                    // comes back, whole, rather than vanish with its new part.
                    if (m.m_nState == STATE_PURGED)
                        m.m_nState = natural;
                    else if (unread && m.m_nState == STATE_READ)
                        m.m_nState = STATE_UNREAD;
                },
                STATE_PURGED);
            if (r == StoreResult::kOk && ctx_.store->Read(rec, &now) && Linked(now)) {
                stored.insert(id);
                ctx_.view->MessageChanged(rec);
                continue;
            }
            if (r != StoreResult::kOk) {
                save_failed = true;
                continue;
            }
            // Dropped from the list by another program's compaction: added
            // anew below.
        }
        auto [storage, slot] = RecordSlot(g);
        StoreResult r = StoreResult::kOk;
        CSmsMessage* rec = ctx_.store->Add(
            std::make_unique<CSmsMessage>(natural, g.m_strNumber, text,
                                          platform::OleDate(g.m_anchor), 0, storage, slot, -1, 0),
            &r);
        if (r == StoreResult::kOk && rec)
            stored.insert(id);
        else
            save_failed = true;
        if (rec)
            ctx_.view->MessageAdded(rec);
    }
    if (save_failed)
        ctx_.errors->Add(IDS_SAVE_FAILED);

    // 3. The records hold their texts: the earlier texts are forgotten. The
    // slots read in this run whose message is stored may be deleted at the
    // end of the run (DeletePartSlots).
    std::set<Slot> read_now;
    for (const CReadPart& p : parts) {
        if (p.m_part.m_nSlot >= 0)
            read_now.insert({p.m_part.m_nStorage, p.m_part.m_nSlot});
    }
    for (const auto& [id, g] : groups) {
        if (!stored.count(id))
            continue;
        for (const CStoredPart& held : g->m_parts) {
            if (held.m_nSlot >= 0 && read_now.count({held.m_nStorage, held.m_nSlot}))
                m_partSlots.emplace(held.m_nStorage, held.m_nSlot);
        }
    }
    if (stored.empty())
        return !save_failed;
    bool forgotten = false;
    for (const auto& [id, g] : groups)
        forgotten = forgotten || (stored.count(id) && !g->m_priorTexts.empty());
    if (forgotten) {
        // Failing here only keeps texts that no record has any more.
        table.Update([&](CPartsFile& f) {
            bool changed = false;
            for (CPartGroup& g : f.m_groups) {
                if (stored.count(g.m_nId) && !g.m_priorTexts.empty()) {
                    g.m_priorTexts.clear();
                    changed = true;
                }
            }
            return changed;
        });
    }
    return !save_failed;
}

void CSmsOperations::DeletePartSlots() {
    std::set<Slot> to_delete;
    for (const auto& [storage, slot] : m_partSlots)
        to_delete.insert({storage, slot});
    m_partSlots.clear();
    if (to_delete.empty())
        return;
    // The table lets go of the slots before they are deleted: a run that
    // ends in between reads them again as copies of parts it holds, never as
    // new messages.
    CPartsTable table(PartsDir());
    PartsResult released = table.Update([&](CPartsFile& f) {
        bool changed = false;
        for (CPartGroup& g : f.m_groups) {
            for (CStoredPart& p : g.m_parts) {
                if (p.m_nSlot >= 0 && to_delete.count({p.m_nStorage, p.m_nSlot})) {
                    p.m_nStorage = STORAGE_POCKETPC;
                    p.m_nSlot = -1;
                    changed = true;
                }
            }
        }
        return changed;
    });
    if (released == PartsResult::kFailed) {
        for (const Slot& s : to_delete)
            ctx_.errors->AddFormatted(IDS_SLOT_NOT_DELETED,
                                      {platform::WidenBytes(StorageName(s.storage)),
                                       platform::WidenBytes(std::to_string(s.slot)),
                                       u"the parts table could not be saved"});
        return;
    }
    // A slot the phone refuses to empty is read again by the next run as a
    // copy of a part it holds, and deleted then.
    std::vector<std::pair<int32_t, int>> slots;
    for (const Slot& s : to_delete)
        slots.emplace_back(s.storage, s.slot);
    DeleteSlots(slots, nullptr);
}

void CSmsOperations::PruneParts() {
    // What the records are now, other programs' changes included.
    ctx_.store->TakeInChanges();
    CPartsTable table(PartsDir());
    CPartsFile file;
    if (table.Load(&file) != PartsResult::kOk || file.m_groups.empty())
        return;  // a damaged table is left for a run that can read it
    const CPartsLookup lookup(file);
    std::set<uint32_t> linked;
    ctx_.store->ForEach([&](CSmsMessage& m) {
        if (m.m_nState == STATE_PURGED)
            return;
        if (const CPartGroup* g = lookup.Find(m))
            linked.insert(g->m_nId);
    });
    const double now = platform::OleDate::Now().m_dt;
    auto needless = [&](const CPartGroup& g) {
        if (!linked.count(g.m_nId))
            return true;  // its record was purged
        if (!g.Complete())
            return false;
        double latest = g.m_anchor;
        for (const CStoredPart& p : g.m_parts) {
            if (p.m_nSlot >= 0)
                return false;  // still on the phone: it is read again
            latest = std::max(latest, p.m_time);
        }
        // A part delivered twice is still recognised for as long as parts of
        // one message can lie apart.
        return (now - latest) * 86400.0 > kJoinWindowSeconds;
    };
    std::set<uint32_t> drop;
    for (const CPartGroup& g : file.m_groups) {
        if (needless(g))
            drop.insert(g.m_nId);
    }
    if (drop.empty())
        return;
    table.Update([&](CPartsFile& f) {
        const size_t before = f.m_groups.size();
        f.m_groups.erase(std::remove_if(f.m_groups.begin(), f.m_groups.end(),
                                        [&](const CPartGroup& g) { return drop.count(g.m_nId); }),
                         f.m_groups.end());
        return f.m_groups.size() != before;
    });
}

void CSmsOperations::DeleteSlots(const std::vector<std::pair<int32_t, int>>& slots,
                                 std::vector<bool>* deleted) {
    if (deleted)
        deleted->assign(slots.size(), false);
    int32_t selected = 0;
    bool usable = false;
    std::u16string reply;
    for (size_t i = 0; i < slots.size(); ++i) {
        const auto& [storage, slot] = slots[i];
        std::string name = StorageName(storage);
        std::u16string where = platform::WidenBytes(name);
        std::u16string index = platform::WidenBytes(std::to_string(slot));
        if (storage != selected) {
            selected = storage;
            usable =
                Command("AT+CPMS=\"" + name + "\"", &reply) && reply.compare(0, 6, u"+CPMS:") == 0;
            if (!usable)
                ctx_.errors->AddFormatted(IDS_SLOT_NOT_DELETED,
                                          {where, index, u"the storage could not be selected"});
        }
        if (!usable)
            continue;
        int rc = Command("AT+CMGD=" + std::to_string(slot), &reply);
        std::u16string final_result = ctx_.cordis->LastFinalResult();
        if (rc == 1 && final_result == u"OK") {
            if (deleted)
                (*deleted)[i] = true;
            continue;
        }
        ctx_.errors->AddFormatted(
            IDS_SLOT_NOT_DELETED,
            {where, index, rc == 1 ? u"the phone answered " + final_result : u"no answer"});
    }
}

int CSmsOperations::DeleteMessageParts(CSmsMessage* msg) {
    CSmsMessage rec;
    if (!ctx_.store->Read(msg, &rec))
        rec = *msg;
    CPartsTable table(PartsDir());
    CPartsFile file;
    table.Load(&file);
    const CPartGroup* group = CPartsLookup(file).Find(rec);
    if (!group)
        return -1;  // a message of one part
    m_bCommError = false;
    const uint32_t id = group->m_nId;
    // Each slot is checked first: it must still hold that part.
    std::vector<std::pair<int32_t, int>> slots;
    std::vector<const CStoredPart*> which;
    for (const CStoredPart& p : group->m_parts) {
        if (p.m_nSlot < 0)
            continue;
        std::u16string reply;
        if (!Command("AT+CPMS=\"" + std::string(StorageName(p.m_nStorage)) + "\"", &reply) ||
            !Command("AT+CMGR=" + std::to_string(p.m_nSlot), &reply)) {
            ctx_.errors->Add(IDS_READ_ERROR);
            m_bCommError = true;
            break;
        }
        std::unique_ptr<CSmsMessage> found;
        CPduMessage pdu;
        CReadPart part;
        if (reply.empty() ||
            DecodeCmgrReply(reply, StorageName(p.m_nStorage), p.m_nSlot, CMGR_MODE_CHECK, &found,
                            nullptr, &pdu) != CMGR_DONE ||
            !found || !PartFromPdu(pdu, &part))
            continue;
        if (part.m_strNumber == group->m_strNumber && part.m_nRef == group->m_nRef &&
            part.m_bRef16 == group->m_bRef16 && part.m_nTotal == group->m_nTotal &&
            part.m_part.m_nSeq == p.m_nSeq && part.m_part.m_strText == p.m_strText) {
            slots.emplace_back(p.m_nStorage, p.m_nSlot);
            which.push_back(&p);
        }
    }
    std::vector<bool> deleted;
    if (!m_bCommError)
        DeleteSlots(slots, &deleted);
    std::set<Slot> gone;
    for (size_t i = 0; i < deleted.size(); ++i) {
        if (deleted[i])
            gone.insert({slots[i].first, slots[i].second});
    }
    if (!gone.empty()) {
        table.Update([&](CPartsFile& f) {
            CPartGroup* g = f.Find(id);
            if (!g)
                return false;
            for (CStoredPart& p : g->m_parts) {
                if (p.m_nSlot >= 0 && gone.count({p.m_nStorage, p.m_nSlot})) {
                    p.m_nStorage = STORAGE_POCKETPC;
                    p.m_nSlot = -1;
                }
            }
            return true;
        });
    }
    const bool all = !m_bCommError && gone.size() == slots.size();
    ctx_.store->Change(msg, [all](CSmsMessage& m) {
        m.m_nState = STATE_DELETED;
        if (all) {
            m.m_nStorage = STORAGE_POCKETPC;
            m.m_nPhoneIndex = -1;
        }
    });
    ctx_.view->MessageChanged(msg);
    return m_bCommError ? 0 : 1;
}

}  // namespace parlo
