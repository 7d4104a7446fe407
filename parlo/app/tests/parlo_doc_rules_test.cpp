// The rules that every front end gets from the document: which numbers a
// message can go to, which settings can be set, and held Outbox messages.
#include <gtest/gtest.h>

#include <cstdlib>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/app/tests/started_doc_fixture.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/store/tests/test_util.h"
#include "parlo_strings.h"
#include "platform/text.h"

namespace parlo {
namespace {

using Numbers = std::vector<std::u16string>;

TEST(Recipients, AreCleanedCheckedAndNamedOnce) {
    CParloDoc::Recipients r = CParloDoc::CheckRecipients(u"+49 170 123-4567; (0171) 55.5 ;;");
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.numbers, (Numbers{u"+491701234567", u"0171555"}));

    // The same number twice, once written differently: one message.
    r = CParloDoc::CheckRecipients(u"+4917012;+49 170 12;0815;+4917012");
    EXPECT_EQ(r.numbers, (Numbers{u"+4917012", u"0815"}));

    for (const char16_t* bad : {u"++4917012", u"49+170", u"0171 call me", u"-- / --",
                                u"123456789012345678901", u"+123456789012345678901"}) {
        r = CParloDoc::CheckRecipients(std::u16string(u"0815;") + bad);
        EXPECT_FALSE(r.Ok()) << platform::ToUtf8(bad);
        EXPECT_EQ(r.refused, bad);
        EXPECT_FALSE(r.why.empty());
        EXPECT_TRUE(r.numbers.empty());  // nothing half-queued
    }
    // Twenty digits are the most an address carries.
    EXPECT_TRUE(CParloDoc::CheckRecipients(u"+12345678901234567890").Ok());

    EXPECT_FALSE(CParloDoc::CheckRecipients(u";;").Ok());
    EXPECT_FALSE(CParloDoc::CheckRecipients(u"  ").Ok());
    EXPECT_TRUE(CParloDoc::CheckRecipients(u";;").refused.empty());
}

TEST(Recipients, TheComposeRuleWantsCleanTextNamingANumber) {
    EXPECT_TRUE(CParloDoc::CanSendTo(u"+4911;0815"));
    EXPECT_FALSE(CParloDoc::CanSendTo(u";;"));
    EXPECT_FALSE(CParloDoc::CanSendTo(u""));
    EXPECT_FALSE(CParloDoc::CanSendTo(u"+49 11"));  // blanks: not valid as typed
    EXPECT_FALSE(CParloDoc::CanSendTo(u"49+11"));
}

TEST(Options, RulesOfSetAreTheDocuments) {
    CSettings s;
    s.m_bAutoSync = 1;
    s.m_nAutoSyncInterval = 15;
    EXPECT_TRUE(CParloDoc::CheckOptions(s).empty());
    s.m_nAutoSyncInterval = 1;
    EXPECT_FALSE(CParloDoc::CheckOptions(s).empty());
    s.m_bAutoSync = 0;
    EXPECT_TRUE(CParloDoc::CheckOptions(s).empty());  // off: the interval does not matter
    s.m_bOwnSmsCentre = 1;
    s.m_strSmsCentre = u"";
    EXPECT_FALSE(CParloDoc::CheckOptions(s).empty());
    s.m_strSmsCentre = u"+491710760000";
    EXPECT_TRUE(CParloDoc::CheckOptions(s).empty());
    s.m_bUsePort = 1;
    s.m_strUserPort = u"  ";
    EXPECT_EQ(CParloDoc::CheckOptions(s), u"\"Use port\" needs a port.");
    s.m_strUserPort = u"COM3:";
    EXPECT_TRUE(CParloDoc::CheckOptions(s).empty());
}

// Records the error indicator's switching.
class IndicatorView : public NullParloView {
  public:
    void SetErrorIndicator(bool on) override { indicator.push_back(on); }
    std::vector<bool> indicator;
};

using DocRules = testing::StartedDocTest<IndicatorView>;

TEST_F(DocRules, SendRefusesTheWholeListWhenOneNumberCannotBeSentTo) {
    CParloDoc::SendResult r = doc->Send(u"0815;49+170", u"hi", false);
    EXPECT_EQ(r.queued, 0);
    EXPECT_EQ(r.refused, u"49+170");
    EXPECT_EQ(doc->Store().Count(), 0u);

    r = doc->Send(u"0815; 08-15;0816", u"hi", false);
    EXPECT_EQ(r.queued, 2);
    EXPECT_EQ(r.queued_to, (Numbers{u"0815", u"0816"}));
}

TEST_F(DocRules, OptionsThatBreakARuleAreNotSetNorSaved) {
    CSettings before = doc->Settings();
    CSettings s = before;
    s.m_bUsePort = 1;
    s.m_strUserPort.clear();
    EXPECT_EQ(doc->ApplyOptions(s), 0);
    EXPECT_EQ(doc->Settings(), before);
    ASSERT_EQ(prompt.texts().size(), 1u);

    CParloDoc again(&view, &prompt);
    again.LoadSettings();
    EXPECT_EQ(again.Settings().m_bUsePort, before.m_bUsePort);
}

TEST_F(DocRules, AHeldMessageIsReleasedOnceAndOthersAreNotTouched) {
    CSmsMessage* held = doc->AddOutgoing(u"0815", u"maybe sent", false).rec;
    CSmsMessage* queued = doc->AddOutgoing(u"0816", u"queued", false).rec;
    ASSERT_EQ(Inside(*doc).m_store.Change(
                  held, [](CSmsMessage& m) { m.m_nPhoneIndex = kFateUnknownIndex; }),
              StoreResult::kOk);
    CSmsMessage copy;
    ASSERT_TRUE(doc->Store().Read(held, &copy));
    EXPECT_TRUE(CParloDoc::IsHeld(copy));

    EXPECT_EQ(doc->ReleaseHeld(queued), 0);  // not held
    EXPECT_EQ(doc->ReleaseHeld(held), 1);
    EXPECT_EQ(doc->ReleaseHeld(held), 0);  // not any more

    // What another program reads: released, still queued.
    CParloDoc other(&view, &prompt);
    ASSERT_EQ(other.LoadMessagesOnly(), StoreResult::kOk);
    ASSERT_EQ(other.Store().Count(), 2u);
    EXPECT_EQ(other.Store().At(0)->m_nPhoneIndex, -1);
    EXPECT_EQ(other.Store().At(0)->m_nState, STATE_OUTBOX);
}

// The error that a synchronisation reported for a held message goes with
// its release; errors about other messages, and about another held message
// to the same number, stay.
TEST_F(DocRules, ReleasingAHeldMessageTakesItsErrorOutOfTheList) {
    auto hold = [&](const std::u16string& number) {
        CSmsMessage* rec = doc->AddOutgoing(number, u"maybe sent", false).rec;
        EXPECT_EQ(Inside(*doc).m_store.Change(
                      rec, [](CSmsMessage& m) { m.m_nPhoneIndex = kFateUnknownIndex; }),
                  StoreResult::kOk);
        return rec;
    };
    CSmsMessage* a = hold(u"0815");
    CSmsMessage* b1 = hold(u"0816");
    CSmsMessage* b2 = hold(u"0816");
    CErrorList& errors = doc->Errors();
    errors.AddFormatted(IDS_HELD_IN_OUTBOX, {u"0815"});
    errors.Add(IDS_SEND_FAILED);
    errors.AddFormatted(IDS_FATE_UNKNOWN, {u"0816"});
    const std::u16string other = errors.Format(IDS_FATE_UNKNOWN, {u"0816"});

    ASSERT_EQ(doc->ReleaseHeld(a), 1);
    EXPECT_EQ(errors.Text(), strings::parlo().Load(IDS_SEND_FAILED) + kErrorSeparator + other);
    ASSERT_EQ(doc->ReleaseHeld(b1), 1);
    EXPECT_NE(errors.Text().find(other), std::u16string::npos);  // b2 is still held
    ASSERT_EQ(doc->ReleaseHeld(b2), 1);
    EXPECT_EQ(errors.Text(), strings::parlo().Load(IDS_SEND_FAILED));
    errors.Clear();
    errors.AddFormatted(IDS_HELD_IN_OUTBOX, {u"0817"});
    CSmsMessage* c = hold(u"0817");
    view.indicator.clear();
    ASSERT_EQ(doc->ReleaseHeld(c), 1);
    EXPECT_TRUE(errors.Empty());
    ASSERT_FALSE(view.indicator.empty());
    EXPECT_FALSE(view.indicator.back());  // the indicator goes off with the last error
}

}  // namespace
}  // namespace parlo
