#include "parlo/sms/sms_engine.h"

#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/strings.h"

namespace parlo {

CEngineContext CSmsEngine::Wire(CEngineContext ctx) {
    ctx.errors = &m_errors;
    if (!ctx.view)
        ctx.view = &m_nullView;
    return ctx;
}

CSmsEngine::CSmsEngine(const CEngineContext& ctx)
    : m_errors(ctx.view, ctx.strings),
      m_session(Wire(ctx)),
      m_operations(Wire(ctx), &m_session),
      m_sync(Wire(ctx), &m_session, &m_operations),
      m_ctx(Wire(ctx)) {}

int CSmsEngine::ClearCommand(unsigned question, std::atomic<int>* order) {
    const platform::StringTable& table = m_ctx.strings ? *m_ctx.strings : strings::parlo();
    if (!m_ctx.prompt)
        return 0;
    platform::Answer a = m_ctx.prompt->MessageBox(table.Load(question), platform::Buttons::OkCancel,
                                                  platform::Icon::Question);
    if (a != platform::Answer::Ok)
        return 0;
    *order = 1;
    m_ctx.prompt->MessageBox(table.Load(IDS_CLEAR_ORDERED), platform::Buttons::Ok,
                             platform::Icon::Information);
    return 1;
}

int CSmsEngine::ClearPhoneCommand() {
    return ClearCommand(IDS_CLEAR_PHONE_QUESTION, &m_operations.m_bClearPhonePending);
}

int CSmsEngine::ClearSimCommand() {
    return ClearCommand(IDS_CLEAR_SIM_QUESTION, &m_operations.m_bClearSimPending);
}

int CSmsEngine::ShowErrors() {
    if (m_sync.m_bSyncBusy || m_errors.Empty() || !m_ctx.prompt)
        return 0;
    std::u16string text = m_errors.Take();
    m_ctx.prompt->MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
    return 1;
}

}  // namespace parlo
