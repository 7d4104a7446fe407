// The SMS engine as the document holds it: the error list, the phone session,
// the message operations and the synchroniser, wired to one context.
#pragma once

#include "parlo/sms/engine_context.h"
#include "parlo/sms/engine_view.h"
#include "parlo/sms/error_list.h"
#include "parlo/sms/phone_session.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/sms/synchronizer.h"

namespace parlo {

class CSmsEngine {
  public:
    // `ctx.errors` is replaced by the engine's own list; a null view is
    // replaced by one that shows nothing.
    explicit CSmsEngine(const CEngineContext& ctx);
    CSmsEngine(const CSmsEngine&) = delete;
    CSmsEngine& operator=(const CSmsEngine&) = delete;

    // "Clear SMS Memory" > "Mobile Phone" / "SIM": asks, and on OK places the
    // wipe order for the next run. Returns 1 when the order was placed.
    int ClearPhoneCommand();
    int ClearSimCommand();

    // Shows the error list in a message box and empties it (the user tapped
    // the error indicator). Nothing while a run is busy or the list is empty;
    // returns 1 when it was shown.
    int ShowErrors();

  private:
    CEngineView m_nullView;  // first: the context below may point at it

  public:
    CErrorList m_errors;
    CPhoneSession m_session;
    CSmsOperations m_operations;
    CSynchronizer m_sync;  // last: its threads use the members above

  private:
    CEngineContext Wire(CEngineContext ctx);
    int ClearCommand(unsigned question, std::atomic<int>* order);

    CEngineContext m_ctx;
};

}  // namespace parlo
