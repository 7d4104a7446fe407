#include "parlo/store/message_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "parlo/store/tests/test_util.h"
#include "platform/testing/faulty_env.h"

namespace parlo {
namespace {

using testing::Bytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// One record in file order, built by hand: note the folder id before the
// phone index.
Bytes& Record(Bytes& b, int32_t state, std::u16string_view number, std::u16string_view text,
              double time, int32_t status, int32_t marked, int32_t storage, int32_t folder,
              int32_t index) {
    return b.I32(state)
        .Str(number)
        .Str(text)
        .F64(time)
        .I32(status)
        .I32(marked)
        .I32(storage)
        .I32(folder)
        .I32(index);
}

std::unique_ptr<CSmsMessage> Msg(int32_t state, std::u16string number, std::u16string text) {
    return std::make_unique<CSmsMessage>(state, std::move(number), std::move(text),
                                         platform::OleDate{45000.5, 0}, 0, STORAGE_POCKETPC, -1, -1,
                                         0);
}

TEST(MessageStoreFile, LoadsEveryFieldOfAHandBuiltStore) {
    TempDir dir;
    const std::u16string longest(1999, u'x');
    const int32_t states[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 20};
    Bytes b;
    for (int32_t s : states) {
        Record(b, s, u"+491701234567", u"state text", 45123.25 + s, 0, s & 1, 1 + s % 3, s * 7,
               s * 3 - 1);
    }
    Record(b, 7, u"", u"", 0.0, 2, 0, 3, 0, -1);               // empty strings
    Record(b, 20, longest, longest, 1.5, 1, 1, 2, 1999, 255);  // the longest strings
    WriteFile(dir / "vok.sms", b.data);

    CMessageStore store(dir.path());
    LoadReport rep;
    ASSERT_EQ(store.LoadMessages(&rep), StoreResult::kOk);
    ASSERT_EQ(store.Count(), std::size(states) + 2);
    EXPECT_EQ(rep.good_length, b.data.size());

    auto list = store.Snapshot();
    int32_t offset = 0;
    for (size_t i = 0; i < std::size(states); ++i) {
        const CSmsMessage& m = *list[i];
        int32_t s = states[i];
        EXPECT_EQ(m.m_nState, s);
        EXPECT_EQ(m.m_strNumber, u"+491701234567");
        EXPECT_EQ(m.m_strText, u"state text");
        EXPECT_DOUBLE_EQ(m.m_time.m_dt, 45123.25 + s);
        EXPECT_EQ(m.m_time.m_status, 0);
        EXPECT_EQ(m.m_bMarked, s & 1);
        EXPECT_EQ(m.m_nStorage, 1 + s % 3);
        EXPECT_EQ(m.m_nFolderId, s * 7);
        EXPECT_EQ(m.m_nPhoneIndex, s * 3 - 1);
        EXPECT_EQ(m.m_nFileOffset, offset);
        offset += 44 + 2 * (13 + 10);
    }
    const CSmsMessage& empty = *list[std::size(states)];
    EXPECT_EQ(empty.m_nFileOffset, offset);
    EXPECT_TRUE(empty.m_strNumber.empty());
    EXPECT_TRUE(empty.m_strText.empty());
    EXPECT_EQ(empty.m_time.m_status, 2);
    EXPECT_EQ(empty.m_nPhoneIndex, -1);
    const CSmsMessage& big = *list.back();
    EXPECT_EQ(big.m_nFileOffset, offset + 44);
    EXPECT_EQ(big.m_strNumber, longest);
    EXPECT_EQ(big.m_strText, longest);
    EXPECT_EQ(big.m_nFolderId, 1999);
    EXPECT_EQ(big.m_nPhoneIndex, 255);
}

TEST(MessageStoreFile, WritesTheLayoutByteForByte) {
    TempDir dir;
    CMessageStore store(dir.path());
    ASSERT_EQ(store.LoadMessages(), StoreResult::kOk);
    EXPECT_TRUE(std::filesystem::exists(dir / "vok.sms"));  // created empty
    auto m = std::make_unique<CSmsMessage>(20, u"12", u"abc", platform::OleDate{2.5, 1}, 1, 2, 9,
                                           -1, 33);
    StoreResult r;
    CSmsMessage* p = store.Add(std::move(m), &r);
    ASSERT_EQ(r, StoreResult::kOk);
    EXPECT_EQ(p->m_nFileOffset, 0);
    Bytes expect;
    // The record is marked (1) in memory; the file's marked field says 0:
    // marks live only while the program runs.
    Record(expect, 20, u"12", u"abc", 2.5, 1, 0, 2, 33, 9);
    EXPECT_EQ(ReadFile(dir / "vok.sms"), expect.data);
    EXPECT_EQ(p->m_bMarked, 1);

    store.Add(Msg(STATE_TEMPLATE, u"", u""), &r);
    EXPECT_EQ(ReadFile(dir / "vok.sms").size(), expect.data.size() + 44);
}

TEST(MessageStoreFile, StateChangeRewritesInPlaceTextChangeAppends) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    CSmsMessage* a = store.Add(Msg(STATE_DRAFT, u"111", u"first draft"));
    CSmsMessage* b = store.Add(Msg(STATE_OUTBOX, u"222", u"queued"));
    const auto length = std::filesystem::file_size(dir / "vok.sms");

    ASSERT_EQ(store.Change(b, [](CSmsMessage& m) { m.m_nState = STATE_SENT; }), StoreResult::kOk);
    EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), length);
    const int32_t b_offset = b->m_nFileOffset;

    ASSERT_EQ(store.Change(a, [](CSmsMessage& m) { m.m_strText = u"edited draft"; }),
              StoreResult::kOk);
    EXPECT_EQ(a->m_nFileOffset, static_cast<int32_t>(length));
    EXPECT_GT(std::filesystem::file_size(dir / "vok.sms"), length);

    // After a restart the old version is in the Recycle Bin.
    CMessageStore again(dir.path());
    ASSERT_EQ(again.LoadMessages(), StoreResult::kOk);
    auto list = again.Snapshot();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->m_nState, STATE_DELETED);
    EXPECT_EQ(list[0]->m_strText, u"first draft");
    EXPECT_EQ(list[1]->m_nState, STATE_SENT);
    EXPECT_EQ(list[1]->m_nFileOffset, b_offset);
    EXPECT_EQ(list[2]->m_nState, STATE_DRAFT);
    EXPECT_EQ(list[2]->m_strText, u"edited draft");

    CSmsMessage copy;
    ASSERT_EQ(again.ReloadMessage(*list[2], &copy), StoreResult::kOk);
    EXPECT_EQ(copy.m_strText, u"edited draft");
    EXPECT_EQ(copy.m_nFileOffset, list[2]->m_nFileOffset);
}

// A number of another length cannot go in place: written over its old
// bytes it would run into the next record.
TEST(MessageStoreFile, LongerNumberLeavesTheNextRecordsWhole) {
    TempDir dir;
    {
        CMessageStore store(dir.path());
        store.LoadMessages();
        CSmsMessage* a = store.Add(Msg(STATE_READ, u"111", u"from a"));
        store.Add(Msg(STATE_READ, u"222", u"from b"));
        store.Add(Msg(STATE_DRAFT, u"333", u"from c"));
        ASSERT_EQ(store.Change(a, [](CSmsMessage& m) { m.m_strNumber = u"+491701234567"; }),
                  StoreResult::kOk);
    }
    CMessageStore again(dir.path());
    LoadReport report;
    ASSERT_EQ(again.LoadMessages(&report), StoreResult::kOk);
    EXPECT_EQ(report.good_length, report.file_length);
    auto list = again.Snapshot();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]->m_nState, STATE_DELETED);
    EXPECT_EQ(list[0]->m_strNumber, u"111");
    EXPECT_EQ(list[1]->m_strNumber, u"222");
    EXPECT_EQ(list[1]->m_strText, u"from b");
    EXPECT_EQ(list[2]->m_strNumber, u"333");
    EXPECT_EQ(list[2]->m_strText, u"from c");
    EXPECT_EQ(list[3]->m_nState, STATE_READ);
    EXPECT_EQ(list[3]->m_strNumber, u"+491701234567");
    EXPECT_EQ(list[3]->m_strText, u"from a");
}

TEST(MessageStoreFile, TornTailIsDroppedKeptAsideAndNotAppendedBehind) {
    TempDir dir;
    Bytes b;
    Record(b, 1, u"+4912", u"kept one", 1.0, 0, 0, 1, 0, 3);
    Record(b, 0, u"+4913", u"kept two", 2.0, 0, 0, 2, 0, 4);
    const size_t good = b.data.size();
    Bytes torn;
    Record(torn, 0, u"+4914", u"cut off by a crash", 3.0, 0, 0, 1, 0, 5);
    // Every cut inside the third record keeps the first two whole.
    for (size_t cut = 1; cut < torn.data.size(); cut += 7) {
        std::filesystem::remove(dir / "vok.sms.torn");
        WriteFile(dir / "vok.sms", b.data + torn.data.substr(0, cut));
        CMessageStore store(dir.path());
        LoadReport rep;
        ASSERT_EQ(store.LoadMessages(&rep), StoreResult::kOk);
        ASSERT_EQ(store.Count(), 2u) << cut;
        EXPECT_EQ(rep.good_length, good);
        EXPECT_TRUE(rep.tail_saved);
        EXPECT_EQ(ReadFile(dir / "vok.sms.torn"), torn.data.substr(0, cut));
        EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), good);

        CSmsMessage* added = store.Add(Msg(STATE_OUTBOX, u"5", u"next"));
        EXPECT_EQ(added->m_nFileOffset, static_cast<int32_t>(good));
        CMessageStore again(dir.path());
        again.LoadMessages();
        ASSERT_EQ(again.Count(), 3u);
        EXPECT_EQ(again.At(2)->m_strText, u"next");
    }
}

// A store of several MiB is read in pieces: records of every size (up to
// the longest that can be written) straddle the pieces' ends and come back
// whole, at their offsets; damage far into the file keeps what is before it.
TEST(MessageStoreFile, LargeStoreReadsWholeAcrossPiecesAndStopsAtDamage) {
    TempDir dir;
    Bytes b;
    std::vector<size_t> offsets;
    std::vector<size_t> lengths;
    size_t i = 0;
    while (b.data.size() < (size_t{7} << 19)) {  // 3.5 MiB
        offsets.push_back(b.data.size());
        // Mostly short texts; every 40th as long as a record can be.
        size_t len = i % 40 == 7 ? static_cast<size_t>(kMaxStoredUnits) : 1 + (i * 7919) % 3000;
        lengths.push_back(len);
        Record(b, i % 2 ? STATE_READ : STATE_UNREAD, u"+49170" + std::u16string(i % 9, u'7'),
               std::u16string(len, static_cast<char16_t>(u'a' + i % 26)), 40000.0 + i, 0, 0, 1, 0,
               static_cast<int32_t>(i));
        ++i;
    }
    const size_t whole = b.data.size();
    WriteFile(dir / "vok.sms", b.data);
    {
        CMessageStore store(dir.path());
        LoadReport rep;
        ASSERT_EQ(store.LoadMessages(&rep), StoreResult::kOk);
        ASSERT_EQ(store.Count(), offsets.size());
        EXPECT_EQ(rep.good_length, whole);
        EXPECT_EQ(rep.file_length, whole);
        for (size_t k = 0; k < offsets.size(); ++k) {
            const CSmsMessage* m = store.At(k);
            ASSERT_EQ(m->m_nFileOffset, static_cast<int32_t>(offsets[k])) << k;
            ASSERT_EQ(m->m_strText.size(), lengths[k]) << k;
            ASSERT_EQ(m->m_strText.back(), static_cast<char16_t>(u'a' + k % 26)) << k;
            ASSERT_EQ(m->m_nPhoneIndex, static_cast<int32_t>(k)) << k;
        }
        EXPECT_FALSE(std::filesystem::exists(dir / "vok.sms.torn"));
    }
    // A length field broken in a record well past the first MiB.
    size_t bad = 0;
    while (offsets[bad] < (size_t{5} << 19))
        ++bad;
    std::string damaged = b.data;
    damaged[offsets[bad] + 4] = '\xff';
    damaged[offsets[bad] + 7] = '\x7f';
    WriteFile(dir / "vok.sms", damaged);
    CMessageStore store(dir.path());
    LoadReport rep;
    ASSERT_EQ(store.LoadMessages(&rep), StoreResult::kOk);
    EXPECT_EQ(store.Count(), bad);
    EXPECT_EQ(rep.good_length, offsets[bad]);
    EXPECT_EQ(rep.file_length, whole);
    EXPECT_TRUE(rep.tail_saved);
    EXPECT_EQ(ReadFile(dir / "vok.sms.torn"), damaged.substr(offsets[bad]));
    EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), offsets[bad]);
}

TEST(MessageStoreFile, TailThatCannotBeKeptAsideIsOverwrittenByTheNextAppend) {
    TempDir dir;
    Bytes b;
    Record(b, 1, u"+4912", u"kept", 1.0, 0, 0, 1, 0, 3);
    const size_t good = b.data.size();
    WriteFile(dir / "vok.sms", b.data + std::string(300, '\x7f'));
    std::filesystem::create_directory(dir / "vok.sms.torn");  // the copy fails
    CMessageStore store(dir.path());
    LoadReport rep;
    ASSERT_EQ(store.LoadMessages(&rep), StoreResult::kOk);
    EXPECT_FALSE(rep.tail_saved);
    EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), good + 300);  // not cut
    CSmsMessage* a = store.Add(Msg(STATE_DRAFT, u"1", u"first after"));
    CSmsMessage* b2 = store.Add(Msg(STATE_DRAFT, u"2", u"second after"));
    EXPECT_EQ(a->m_nFileOffset, static_cast<int32_t>(good));
    EXPECT_EQ(b2->m_nFileOffset, static_cast<int32_t>(good + RecordSize(*a)));
    CMessageStore again(dir.path());
    again.LoadMessages();
    ASSERT_EQ(again.Count(), 3u);
    EXPECT_EQ(again.At(2)->m_strText, u"second after");
}

TEST(MessageStoreFile, DamagedLengthsStopTheLoadWithoutReadingPastTheFile) {
    TempDir dir;
    Bytes ok;
    Record(ok, 1, u"1", u"one", 1.0, 0, 0, 1, 0, 1);
    for (int32_t bad : {-1, -100000, kMaxStoredUnits + 1, INT32_MAX}) {
        Bytes b = ok;
        b.I32(1).RawStr(bad, u"", 0);
        WriteFile(dir / "vok.sms", b.data);
        CMessageStore store(dir.path());
        ASSERT_EQ(store.LoadMessages(), StoreResult::kOk);
        EXPECT_EQ(store.Count(), 1u) << bad;
    }
}

TEST(MessageStoreFile, OverlongTextsAreRefusedSoEveryRecordReadsBack) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    StoreResult r;
    store.Add(Msg(STATE_DRAFT, u"1", std::u16string(kMaxStoredUnits, u'a')), &r);
    EXPECT_EQ(r, StoreResult::kOk);
    CSmsMessage* big =
        store.Add(Msg(STATE_DRAFT, u"1", std::u16string(kMaxStoredUnits + 1, u'b')), &r);
    EXPECT_EQ(r, StoreResult::kSaveFailed);
    EXPECT_EQ(big->m_nFileOffset, -1);
    // 2000 and more units (beyond what older readers took) read back whole.
    store.Add(Msg(STATE_DRAFT, u"1", std::u16string(2000, u'c')), &r);
    EXPECT_EQ(r, StoreResult::kOk);

    CMessageStore again(dir.path());
    again.LoadMessages();
    ASSERT_EQ(again.Count(), 2u);
    EXPECT_EQ(again.At(0)->m_strText.size(), static_cast<size_t>(kMaxStoredUnits));
    EXPECT_EQ(again.At(1)->m_strText, std::u16string(2000, u'c'));
}

TEST(MessageStoreCompaction, DropsPurgedRecordsAndFixesOffsets) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    for (int i = 0; i < 10; ++i) {
        store.Add(
            Msg(i % 3 == 0 ? STATE_PURGED : STATE_READ, u"+49" + std::u16string(i, u'1'), u"text"));
    }
    size_t dropped = 0;
    ASSERT_EQ(store.CompactStore(&dropped), StoreResult::kOk);
    EXPECT_EQ(dropped, 4u);
    EXPECT_EQ(store.Count(), 6u);
    // "vok.tmp" became the store: it was written once and renamed.
    EXPECT_FALSE(std::filesystem::exists(dir / "vok.tmp"));

    CMessageStore again(dir.path());
    again.LoadMessages();
    auto a = store.Snapshot(), b = again.Snapshot();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i]->m_nFileOffset, b[i]->m_nFileOffset);
        EXPECT_EQ(a[i]->m_strNumber, b[i]->m_strNumber);
        EXPECT_NE(b[i]->m_nState, STATE_PURGED);
    }
    // Changing a record after compaction patches the new file.
    store.Change(a[2], [](CSmsMessage& m) { m.m_nState = STATE_DELETED; });
    CMessageStore third(dir.path());
    third.LoadMessages();
    EXPECT_EQ(third.At(2)->m_nState, STATE_DELETED);
}

TEST(MessageStoreCompaction, FailureChangesNothing) {
    // A compaction that fails at any of its file operations (the open of the
    // new file, a write, the sync, the rename) leaves the file, the list and
    // the offsets as they were. Faults come from the file-system seam, so the
    // test holds for every user, root included.
    using Op = platform::testing::FaultyEnv::Op;
    for (Op op : {Op::kOpen, Op::kWrite, Op::kSync, Op::kRename}) {
        SCOPED_TRACE(static_cast<int>(op));
        TempDir dir;
        CMessageStore store(dir.path());
        store.LoadMessages();
        store.Add(Msg(STATE_PURGED, u"1", u"purged"));
        store.Add(Msg(STATE_READ, u"2", u"kept"));
        const std::string before = ReadFile(dir / "vok.sms");
        const int32_t offset = store.At(1)->m_nFileOffset;
        StoreResult result;
        {
            platform::testing::FaultyEnv env;
            env.FailNth(op, 1);
            result = store.CompactStore();
        }
        EXPECT_NE(result, StoreResult::kOk);
        EXPECT_EQ(store.Count(), 2u);
        EXPECT_EQ(ReadFile(dir / "vok.sms"), before);
        EXPECT_EQ(store.At(1)->m_nFileOffset, offset);
        CMessageStore again(dir.path());
        again.LoadMessages();
        EXPECT_EQ(again.Count(), 2u);
    }
}

TEST(MessageStoreCompaction, AStoreThatCannotBeReplacedKeepsTheOldOffsets) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    store.Add(Msg(STATE_PURGED, u"1", u"purged"));
    CSmsMessage* kept = store.Add(Msg(STATE_READ, u"2", u"kept"));
    const int32_t offset = kept->m_nFileOffset;
    // A directory in the way of the rename.
    std::filesystem::remove(dir / "vok.sms");
    std::filesystem::create_directory(dir / "vok.sms");
    std::filesystem::create_directory(dir / "vok.sms" / "x");
    EXPECT_EQ(store.CompactStore(), StoreResult::kSaveFailed);
    EXPECT_EQ(store.Count(), 2u);
    EXPECT_EQ(kept->m_nFileOffset, offset);
}

TEST(MessageStoreThreads, ConcurrentAddsAndChangesKeepTheListAndFileWhole) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    constexpr int kPerThread = 200;
    std::thread worker([&] {
        for (int i = 0; i < kPerThread; ++i)
            store.Add(Msg(STATE_UNREAD, u"w", u"from worker"));
    });
    for (int i = 0; i < kPerThread; ++i) {
        CSmsMessage* m = store.Add(Msg(STATE_DRAFT, u"u", u"from ui"));
        store.Change(m, [](CSmsMessage& r) { r.m_nState = STATE_DELETED; });
        store.Snapshot();
    }
    worker.join();
    EXPECT_EQ(store.Count(), 2u * kPerThread);
    CMessageStore again(dir.path());
    LoadReport rep;
    again.LoadMessages(&rep);
    EXPECT_EQ(again.Count(), 2u * kPerThread);
    EXPECT_EQ(rep.good_length, rep.file_length);
}

TEST(SmsMessage, SameMessageRules) {
    CSmsMessage a(0, u"1", u"t", {}, 0, 1, 4, -1, 0);
    CSmsMessage b = a;
    EXPECT_TRUE(SameMessage(a, b));
    b.m_nState = 1;
    EXPECT_TRUE(SameMessage(a, b));
    b.m_nState = 3;
    EXPECT_FALSE(SameMessage(a, b));
    b.m_nState = 9;
    EXPECT_TRUE(SameMessage(a, b));
    b.m_nState = 20;
    EXPECT_TRUE(SameMessage(a, b));
    b = a;
    b.m_nPhoneIndex = 5;
    EXPECT_FALSE(SameMessage(a, b));
    b = a;
    b.m_nStorage = 2;
    EXPECT_FALSE(SameMessage(a, b));
    CSmsMessage def;
    EXPECT_EQ(def.m_nState, STATE_PURGED);
    EXPECT_EQ(def.m_nFileOffset, -1);
    EXPECT_EQ(ViewOfState(12), VIEW_OUTBOX);
    EXPECT_EQ(ViewOfState(10), VIEW_NONE);
    EXPECT_EQ(ViewOfState(13), VIEW_NONE);
}

}  // namespace
}  // namespace parlo
