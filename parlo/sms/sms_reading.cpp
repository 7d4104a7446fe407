// Reading both storages of the phone into the store, and deleting what was
// read after the synchronisation.
//
// A storage is read with one listing ("AT+CMGL=4") when the phone gives one
// that agrees with the used count of its "+CPMS" answer; otherwise slot by
// slot with "AT+CMGR", up to the used count. Every message goes through
// OnSlotRead, which stores it at once: a run that ends early (killed, a lost
// line) has stored every message the phone has marked read by then, with the
// state it had. The parts of a long message are kept aside and joined with
// the parts table once their storage is read (part_sync.cpp), and their
// slots are deleted only once their message is stored.
#include <algorithm>
#include <string>

#include "cordis/cordis.h"
#include "parlo/sms/engine_view.h"
#include "parlo/sms/error_list.h"
#include "parlo/sms/pdu_codec.h"
#include "parlo/sms/phone_listing.h"
#include "parlo/sms/phone_session.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/sms/unread_journal.h"
#include "parlo/store/message_store.h"
#include "platform/text.h"

namespace parlo {

namespace {

// Error answers that phones give for an empty slot: invalid memory index,
// invalid index, not found.
bool IsEmptySlotAnswer(const std::u16string& final_result) {
    return final_result == u"OK" || final_result == u"ERROR" ||
           final_result == u"+CMS ERROR: 321" || final_result == u"+CME ERROR: 21" ||
           final_result == u"+CME ERROR: 22" || final_result.empty();
}

std::u16string StorageTitle(const std::string& storage) {
    return storage == "ME" ? u"phone memory (ME)" : u"SIM (SM)";
}

std::string SelectCommand(const std::string& storage) {
    return "AT+CPMS=\"" + storage + "\"";
}

int32_t StorageCode(const std::string& storage) {
    return storage == "ME" ? STORAGE_PHONE : STORAGE_SIM;
}

// The used count of a "+CPMS:" answer; -1 when it is not a number.
int UsedCount(const std::u16string& reply) {
    std::u16string used = ExtractField(reply, u":", u",", 1, 1);
    size_t i = 0;
    while (i < used.size() && used[i] == u' ')
        ++i;
    if (i == used.size())
        return -1;
    int n = 0;
    for (; i < used.size(); ++i) {
        if (used[i] < u'0' || used[i] > u'9' || n > 100000)
            return -1;
        n = n * 10 + (used[i] - u'0');
    }
    return n;
}

std::u16string Wide(int n) {
    return platform::WidenBytes(std::to_string(n));
}

}  // namespace

int CSmsOperations::SelectStorage(const std::string& storage, std::u16string* reply) {
    int rc = Command(SelectCommand(storage), reply);
    if (rc != 1 || reply->compare(0, 6, u"+CPMS:") == 0)
        return rc;
    // A result code alone: a stray line ahead of the answer, whose own answer
    // is still on its way, or a refusal. Selecting changes nothing on the
    // phone, so the line is brought back in step and the storage asked once
    // more.
    ctx_.cordis->Resync();
    return Command(SelectCommand(storage), reply);
}

int CSmsOperations::ReadPhoneMessages(int show_progress, int delete_after_reading) {
    m_readMap.clear();
    m_parts.clear();
    m_held.clear();
    m_claimed.clear();
    m_bSaveFailed = false;
    m_bListRefused = false;
    m_records.clear();
    m_unread.Load(UnreadJournal::PathIn(ctx_.dir));
    ctx_.store->ForEach([this](CSmsMessage& rec) {
        if (rec.m_nState != STATE_PURGED)
            AddRecord(&rec);
    });
    ctx_.view->ShowProgress(true);
    ctx_.view->SetProgressPos(0);
    ctx_.view->ShowStatusText(false);

    m_partSlots.clear();
    for (const std::string storage : {"ME", "SM"}) {
        const bool read = ReadStorage(storage, show_progress);
        // The parts of the storage are stored once it is read (or as far as
        // it was read: they are marked read on the phone).
        StoreParts();
        if (!read)
            return 0;
    }
    if (m_bSaveFailed)
        ctx_.errors->Add(IDS_SAVE_FAILED);
    bool answering = true;
    if (delete_after_reading)
        answering = DeleteHeld();
    // A phone that stopped answering is not asked to delete parts' slots.
    if (delete_after_reading && answering)
        DeletePartSlots();
    PruneParts();
    // Every message listed unread is stored now, with that state.
    if (!m_bSaveFailed)
        m_unread.Clear();
    RestoreView();
    return 1;
}

CSmsOperations::Selection CSmsOperations::SelectForReading(const std::string& storage,
                                                           std::u16string* reply) {
    if (!SelectStorage(storage, reply)) {
        FailRead(IDS_COMM_ERROR);
        return Selection::kFailed;
    }
    if (reply->compare(0, 6, u"+CPMS:") != 0) {
        std::u16string why = reply->empty() ? ctx_.cordis->LastFinalResult() : *reply;
        ctx_.errors->AddFormatted(IDS_STORAGE_SKIPPED, {StorageTitle(storage), why});
        return Selection::kSkipped;
    }
    return Selection::kSelected;
}

int CSmsOperations::ReadStorage(const std::string& storage, int show_progress) {
    std::u16string reply;
    switch (SelectForReading(storage, &reply)) {
        case Selection::kFailed:
            return 0;
        case Selection::kSkipped:
            return 1;
        case Selection::kSelected:
            break;
    }
    int size = StorageSize(reply);
    if (size == 0)
        return 0;
    int used = UsedCount(reply);

    // What a listing marked read on the phone, by slot: should the slots be
    // read again one by one, they are still stored unread.
    std::map<int, std::string> listed_unread;
    bool stop_at_used = used >= 0;
    if (used >= 0 && !m_bListRefused) {
        switch (ReadByListing(storage, used, size, show_progress, &listed_unread)) {
            case ListOutcome::kRead:
                return 1;
            case ListOutcome::kFailed:
                return 0;
            case ListOutcome::kRefused:
                m_bListRefused = true;
                break;
            case ListOutcome::kUnusable:
                // The count is in doubt: every slot is read. The selection is
                // made again, which also brings a late answer to light.
                stop_at_used = false;
                switch (SelectForReading(storage, &reply)) {
                    case Selection::kFailed:
                        return 0;
                    case Selection::kSkipped:
                        return 1;
                    case Selection::kSelected:
                        break;
                }
                used = UsedCount(reply);
                break;
        }
    }
    return ReadBySlot(storage, size, used, stop_at_used, show_progress, listed_unread);
}

CSmsOperations::ListOutcome CSmsOperations::ReadByListing(
    const std::string& storage, int used, int size, int show_progress,
    std::map<int, std::string>* listed_unread) {
    std::u16string reply;
    // A long listing takes time on a slow line: half a second a message on
    // top of the usual wait.
    int seconds = SAR_TIMEOUT_COMMAND + (used + 1) / 2;
    reply.clear();
    int rc = ctx_.cordis->SendAndReceive("AT+CMGL=4", reply, 0, seconds);
    if (!rc) {
        FailRead(IDS_COMM_ERROR);
        return ListOutcome::kFailed;
    }
    size_t lead = 0;
    while (lead < reply.size() && (reply[lead] == u'\r' || reply[lead] == u'\n'))
        ++lead;
    reply.erase(0, lead);
    std::u16string final_result = ctx_.cordis->LastFinalResult();
    if (reply.empty() && final_result != u"OK")
        return ListOutcome::kRefused;

    std::vector<ListedSlot> entries;
    bool whole = SplitListing(reply, &entries);
    // Whatever was listed has been marked read on the phone: the unread ones
    // are noted on disk before anything else, for a run killed before it
    // stores them.
    std::vector<std::string> unread;
    for (const ListedSlot& e : entries) {
        if (e.status == 0) {
            (*listed_unread)[e.index] = AnswerPdu(e.reply);
            unread.push_back((*listed_unread)[e.index]);
        }
    }
    m_unread.Note(storage, unread);
    if (!whole || static_cast<int>(entries.size()) != used)
        return ListOutcome::kUnusable;
    std::vector<bool> seen(static_cast<size_t>(size) + 1, false);
    std::vector<std::unique_ptr<CSmsMessage>> messages(entries.size());
    std::vector<bool> stamps(entries.size(), false);
    std::vector<CPduMessage> pdus(entries.size());
    for (size_t k = 0; k < entries.size(); ++k) {
        const ListedSlot& e = entries[k];
        if (e.index < 1 || e.index > size || seen[static_cast<size_t>(e.index)])
            return ListOutcome::kUnusable;
        seen[static_cast<size_t>(e.index)] = true;
        bool stamped = false;
        int code = DecodeCmgrReply(e.reply, storage, e.index, CMGR_MODE_READ, &messages[k],
                                   &stamped, &pdus[k]);
        if (code != CMGR_DONE)
            return ListOutcome::kUnusable;
        stamps[k] = stamped;
    }

    if (show_progress) {
        ctx_.view->SetProgressRange(0, std::max(used, 1));
        ctx_.view->SetProgressPos(0);
    }
    for (size_t k = 0; k < entries.size(); ++k) {
        if (show_progress)
            ctx_.view->StepProgress();
        // Listed unread by a run that ended before it stored the message.
        if (messages[k] && messages[k]->m_nState == STATE_READ &&
            m_unread.Contains(storage, AnswerPdu(entries[k].reply)))
            messages[k]->m_nState = STATE_UNREAD;
        if (messages[k] && !TakePart(pdus[k], *messages[k]))
            OnSlotRead(StorageCode(storage), entries[k].index, std::move(messages[k]), stamps[k],
                       true);
    }
    return ListOutcome::kRead;
}

int CSmsOperations::ReadBySlot(const std::string& storage, int size, int used, bool stop_at_used,
                               int show_progress, const std::map<int, std::string>& listed_unread) {
    if (show_progress) {
        ctx_.view->SetProgressRange(0, size);
        ctx_.view->SetProgressPos(0);
    }
    std::u16string reply;
    int found = 0;
    int i = 1;
    for (; i <= size; ++i) {
        if (stop_at_used && found >= used)
            break;
        if (m_pStop && *m_pStop) {
            // Stopped: what was read is stored already; nothing is deleted,
            // and the rest stays on the phone for the next run.
            RestoreView();
            return 0;
        }
        if (show_progress)
            ctx_.view->StepProgress();
        if (!Command("AT+CMGR=" + std::to_string(i), &reply)) {
            FailRead(IDS_COMM_ERROR);
            return 0;
        }
        if (reply.empty()) {
            std::u16string final_result = ctx_.cordis->LastFinalResult();
            if (!IsEmptySlotAnswer(final_result))
                SkipSlot(storage, i, u"the phone answered " + final_result);
            continue;
        }
        ++found;
        std::unique_ptr<CSmsMessage> msg;
        bool stamped = false;
        CPduMessage pdu;
        int rc = DecodeCmgrReply(reply, storage, i, CMGR_MODE_READ, &msg, &stamped, &pdu);
        if (rc != CMGR_DONE) {
            SkipSlot(storage, i, CmgrFailureText(rc));
            continue;
        }
        if (!msg)
            continue;
        if (msg->m_nState == STATE_READ) {
            // Marked read by a listing, of this run or of one that ended
            // before it stored the message: it was unread.
            std::string answer = AnswerPdu(reply);
            auto it = listed_unread.find(i);
            if ((it != listed_unread.end() && it->second == answer) ||
                m_unread.Contains(storage, answer))
                msg->m_nState = STATE_UNREAD;
        }
        if (TakePart(pdu, *msg))
            continue;  // joined with its other parts after the read
        OnSlotRead(StorageCode(storage), i, std::move(msg), stamped, false);
    }
    if (show_progress && i <= size)
        ctx_.view->SetProgressPos(size);
    if (used > found) {
        // Slots that looked empty held messages (or the count is wrong):
        // they stay on the phone for the next run.
        ctx_.errors->AddFormatted(IDS_STORAGE_SHORT,
                                  {StorageTitle(storage), Wide(used), Wide(found)});
    }
    return 1;
}

CSmsMessage* CSmsOperations::FindRecord(const CSmsMessage& msg, bool stamped) {
    // The records' fields are read under the store's lock: another thread
    // (the window taking in other programs' changes) may rewrite them.
    CSmsMessage* found = nullptr;
    ctx_.store->WithListLocked([&] { found = FindRecordLocked(msg, stamped); });
    return found;
}

namespace {

size_t TextKey(const CSmsMessage& m) {
    const std::hash<std::u16string> hash;
    return hash(m.m_strNumber) * 31 + hash(m.m_strText);
}

}  // namespace

void CSmsOperations::AddRecord(CSmsMessage* rec) {
    m_records[TextKey(*rec)].push_back(rec);
}

const std::vector<CSmsMessage*>& CSmsOperations::RecordsLike(const CSmsMessage& msg) const {
    static const std::vector<CSmsMessage*> none;
    auto it = m_records.find(TextKey(msg));
    return it == m_records.end() ? none : it->second;
}

CSmsMessage* CSmsOperations::FindRecordLocked(const CSmsMessage& msg, bool stamped) {
    // Only records with the same number and text can match (a hash may
    // bring others along: the comparisons below decide).
    const std::vector<CSmsMessage*>& like = RecordsLike(msg);
    // The record attached to the slot itself.
    for (CSmsMessage* rec : like) {
        if (rec->m_nStorage == msg.m_nStorage && rec->m_nPhoneIndex == msg.m_nPhoneIndex &&
            !m_claimed.count(rec) && SameMessage(*rec, msg) && SamePhoneMessage(*rec, msg, stamped))
            return rec;
    }
    if (!stamped)
        return nullptr;
    // A message with its own time stamp is recognised wherever its record
    // points: at another slot of the storage (read out of step before), or
    // nowhere (detached by a deletion whose answer never came).
    for (CSmsMessage* rec : like) {
        if (m_claimed.count(rec) || !SamePhoneMessage(*rec, msg, true))
            continue;
        if (rec->m_nState != STATE_UNREAD && rec->m_nState != STATE_READ &&
            rec->m_nState != STATE_IN_FOLDER && rec->m_nState != STATE_DELETED)
            continue;
        if (rec->m_nStorage == msg.m_nStorage || rec->m_nStorage == STORAGE_POCKETPC)
            return rec;
    }
    return nullptr;
}

void CSmsOperations::OnSlotRead(int32_t storage, int slot, std::unique_ptr<CSmsMessage> msg,
                                bool stamped, bool by_index) {
    SlotKey key{storage, slot};
    CSmsMessage* rec = FindRecord(*msg, stamped);
    const CSmsMessage found = rec ? ctx_.store->Copy(rec) : CSmsMessage();
    if (rec && (found.m_nStorage != storage || found.m_nPhoneIndex != slot)) {
        // The record points at the slot that holds its message from now on.
        if (ctx_.store->Change(rec, [storage, slot](CSmsMessage& m) {
                m.m_nStorage = storage;
                m.m_nPhoneIndex = slot;
            }) == StoreResult::kOk) {
            ctx_.view->MessageChanged(rec);
        } else {
            m_bSaveFailed = true;
            m_claimed.insert(rec);
            rec = nullptr;  // not held: the slot stays on the phone
        }
    } else if (!rec) {
        StoreResult result = StoreResult::kOk;
        CSmsMessage* added = ctx_.store->Add(std::make_unique<CSmsMessage>(*msg), &result);
        if (added)
            ctx_.view->MessageAdded(added);
        if (result == StoreResult::kOk && added) {
            rec = added;
            AddRecord(added);
        } else {
            m_bSaveFailed = true;
        }
    }
    if (rec) {
        m_claimed.insert(rec);
        m_held[key] = {rec, by_index, stamped};
    }
    m_readMap[key] = std::move(msg);
}

bool CSmsOperations::DeleteHeld() {
    // Only slots read in this run whose message the store holds, and each
    // only when the slot still holds that message: named by the listing, or
    // read again just before the deletion. Before a slot is deleted, its
    // record stops pointing at it (saved); a refused deletion points it back.
    int32_t selected = 0;
    bool usable = false;
    std::u16string reply;
    for (auto it = m_held.begin(); it != m_held.end(); ++it) {
        const auto& [key, held] = *it;
        const auto& [storage, slot] = key;
        CSmsMessage* rec = held.rec;
        std::string name = StorageName(storage);
        std::u16string where = platform::WidenBytes(name);
        std::u16string index = Wide(slot);
        auto stop = [&](const std::u16string& why) {
            int left = static_cast<int>(std::distance(it, m_held.end()));
            ctx_.errors->AddFormatted(IDS_DELETION_STOPPED, {where, index, why, Wide(left)});
        };
        if (storage != selected) {
            selected = storage;
            if (!SelectStorage(name, &reply)) {
                stop(u"no answer");
                return false;
            }
            usable = reply.compare(0, 6, u"+CPMS:") == 0;
            if (!usable) {
                std::u16string why = reply.empty() ? ctx_.cordis->LastFinalResult() : reply;
                ctx_.errors->AddFormatted(
                    IDS_SLOT_NOT_DELETED,
                    {where, index, u"the storage could not be selected (" + why + u")"});
            }
        }
        if (!usable)
            continue;
        if (!held.by_index) {
            if (!Command("AT+CMGR=" + std::to_string(slot), &reply)) {
                stop(u"no answer");
                return false;
            }
            std::unique_ptr<CSmsMessage> now;
            bool stamped = false;
            DecodeCmgrReply(reply, name, slot, CMGR_MODE_CHECK, &now, &stamped);
            CSmsMessage stored;
            if (!now || !ctx_.store->Read(rec, &stored) ||
                !SamePhoneMessage(stored, *now, stamped || held.stamped)) {
                ctx_.errors->AddFormatted(
                    IDS_SLOT_NOT_DELETED,
                    {where, index, u"the slot did not give the stored message when read again"});
                continue;
            }
        }
        const CSmsMessage before = ctx_.store->Copy(rec);
        const int32_t old_storage = before.m_nStorage;
        const int32_t old_index = before.m_nPhoneIndex;
        auto attach = [&](CSmsMessage& m) {
            m.m_nStorage = old_storage;
            m.m_nPhoneIndex = old_index;
        };
        if (ctx_.store->Change(rec, [](CSmsMessage& m) {
                m.m_nStorage = STORAGE_POCKETPC;
                m.m_nPhoneIndex = -1;
            }) != StoreResult::kOk) {
            // Not saved: the record may still point at the slot on disk.
            ctx_.store->Change(rec, attach);
            ctx_.errors->AddFormatted(IDS_SLOT_NOT_DELETED,
                                      {where, index, u"the message store could not be saved"});
            continue;
        }
        int rc = Command("AT+CMGD=" + std::to_string(slot), &reply);
        std::u16string final_result = ctx_.cordis->LastFinalResult();
        if (rc == 1 && final_result == u"OK")
            continue;
        // Refused or unanswered: the record points at its slot again. Should
        // an unanswered deletion have been carried out, the slot is empty or
        // holds another message, which the next run tells apart.
        ctx_.store->Change(rec, attach);
        if (rc == 1) {
            ctx_.errors->AddFormatted(IDS_SLOT_NOT_DELETED,
                                      {where, index, u"the phone answered " + final_result});
            continue;
        }
        stop(u"no answer");
        return false;
    }
    return true;
}

}  // namespace parlo
