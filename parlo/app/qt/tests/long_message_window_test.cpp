// A long message with parts missing, as the window shows it: its row and
// its reader say it is incomplete, as parlo-cli list does, until another
// program's synchronisation completes it.
#include <QLabel>

#include "parlo/app/qt/tests/main_window_fixture.h"
#include "parlo/sms/sms_joiner.h"
#include "parlo/store/parts_table.h"

namespace parlo {
namespace window_testing {
namespace {

constexpr double kDay = 45366.4375;  // the time of the message's first part
const std::u16string kNumber = u"+491701234567";

// The parts table holding parts `seqs` of a message of 3 parts.
CPartGroup Group(const std::vector<int32_t>& seqs) {
    CPartGroup g;
    g.m_nId = 1;
    g.m_strNumber = kNumber;
    g.m_nRef = 9;
    g.m_nTotal = 3;
    g.m_anchor = kDay;
    const char16_t* texts[] = {u"", u"The start, ", u"the middle ", u"and the end."};
    for (int32_t seq : seqs)
        g.m_parts.push_back({seq, STORAGE_PHONE, seq, STATE_UNREAD, kDay, texts[seq]});
    return g;
}

bool WriteTable(const std::filesystem::path& dir, const CPartGroup& g) {
    return CPartsTable(dir).Update([&](CPartsFile& f) {
        f.m_groups = {g};
        f.m_nNextId = 2;
        return true;
    }) != PartsResult::kFailed;
}

QString RowText(MessageListModel* model, int row) {
    return model->data(model->index(row, 3), Qt::DisplayRole).toString();
}

TEST_F(MainWindow, AnIncompleteLongMessageSaysSoInItsRowAndItsReader) {
    const CPartGroup half = Group({1, 3});
    ASSERT_TRUE(WriteTable(dir.path(), half));
    ASSERT_TRUE(Start());
    CSmsMessage* rec = Add(STATE_UNREAD, kNumber, JoinedText(half), kDay);
    Add(STATE_READ, u"+491709999999", u"A message of one part", kDay + 1);
    MessageListModel* inbox = Model(VIEW_INBOX);
    ASSERT_EQ(inbox->rowCount(), 2);
    const int row = inbox->RowOf(rec);
    ASSERT_GE(row, 0);
    EXPECT_EQ(RowText(inbox, row),
              "(incomplete) The start, [part 2 of 3 not received yet]and the end.");
    EXPECT_EQ(RowText(inbox, 1 - row), "A message of one part");

    {
        // The reader of the message, and of the other one.
        ComposeDialog reader(Doc(), prompt, VIEW_INBOX, rec, rec->m_strNumber, rec->m_strText,
                             false);
        reader.show();
        auto* note = reader.findChild<QLabel*>("incomplete");
        ASSERT_NE(note, nullptr);
        EXPECT_TRUE(note->isVisible());
        EXPECT_EQ(note->text(), "Incomplete: 2 of 3 parts received");
        EXPECT_TRUE(qtsupport::LayoutProblems(&reader).isEmpty())
            << qtsupport::LayoutProblems(&reader).join("\n").toStdString();
        CSmsMessage* other = inbox->KeyAt(1 - row);
        ComposeDialog single(Doc(), prompt, VIEW_INBOX, other, other->m_strNumber, other->m_strText,
                             false);
        single.show();
        EXPECT_FALSE(single.findChild<QLabel*>("incomplete")->isVisible());
    }

    // Another program's synchronisation completes it in place: the table
    // first, then the record.
    const CPartGroup whole = Group({1, 3, 2});
    ASSERT_TRUE(WriteTable(dir.path(), whole));
    {
        CMessageStore elsewhere(dir.path());
        ASSERT_EQ(elsewhere.LoadMessages(), StoreResult::kOk);
        CSmsMessage* copy = nullptr;
        elsewhere.ForEach([&](CSmsMessage& m) {
            if (m.m_strNumber == kNumber)
                copy = &m;
        });
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(elsewhere.Change(
                      copy, [&](CSmsMessage& m) { m.m_strText = JoinedText(whole); }, STATE_PURGED),
                  StoreResult::kOk);
    }
    // Taken in: one row, whole, without the mark.
    auto row_of_number = [&]() -> int {
        for (int r = 0; r < inbox->rowCount(); ++r) {
            if (inbox->CopyAt(r)->m_strNumber == kNumber)
                return r;
        }
        return -1;
    };
    EXPECT_TRUE(WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return inbox->rowCount() == 2 && row_of_number() >= 0 &&
                   RowText(inbox, row_of_number()) == "The start, the middle and the end.";
        },
        20000));
    ASSERT_GE(row_of_number(), 0);
    CSmsMessage* done = inbox->KeyAt(row_of_number());
    ComposeDialog reader(Doc(), prompt, VIEW_INBOX, done, done->m_strNumber, done->m_strText,
                         false);
    reader.show();
    EXPECT_FALSE(reader.findChild<QLabel*>("incomplete")->isVisible());
}

}  // namespace
}  // namespace window_testing
}  // namespace parlo
