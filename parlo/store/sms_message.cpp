#include "parlo/store/sms_message.h"

namespace parlo {

bool SameMessage(const CSmsMessage& a, const CSmsMessage& b) {
    if (a.m_strNumber != b.m_strNumber || a.m_strText != b.m_strText ||
        a.m_nStorage != b.m_nStorage || a.m_nPhoneIndex != b.m_nPhoneIndex) {
        return false;
    }
    const int32_t s = a.m_nState, t = b.m_nState;
    return s == t || s == STATE_IN_FOLDER || t == STATE_IN_FOLDER || s == STATE_DELETED ||
           t == STATE_DELETED || (s == STATE_UNREAD && t == STATE_READ) ||
           (s == STATE_READ && t == STATE_UNREAD);
}

int ViewOfState(int32_t state) {
    switch (state) {
        case STATE_UNREAD:
        case STATE_READ:
            return VIEW_INBOX;
        case STATE_PHONE_SENT:
        case STATE_SENT:
            return VIEW_SENT;
        case STATE_OUTBOX:
        case STATE_OUTBOX_PUSH:
            return VIEW_OUTBOX;
        case STATE_DRAFT:
            return VIEW_DRAFT;
        case STATE_TEMPLATE:
            return VIEW_TEMPLATES;
        case STATE_DELETED:
            return VIEW_RECYCLE;
        case STATE_IN_FOLDER:
            return VIEW_USER_FOLDER;
        default:
            return VIEW_NONE;
    }
}

}  // namespace parlo
