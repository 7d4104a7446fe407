#include "parlo/app/phonebook_link.h"

#include "cordis/cordis.h"
#include "parlo/sms/phone_session.h"

namespace parlo {

void CDocPhoneLink::StartSAR() {
    cordis_->StartSAR();
}

int CDocPhoneLink::OpenPhone() {
    return session_->OpenPhone();
}

int CDocPhoneLink::IdentifyPhone() {
    return session_->IdentifyPhone();
}

int CDocPhoneLink::SendAndReceive(const std::string& command, std::u16string& reply,
                                  int timeout_seconds) {
    return cordis_->SendAndReceive(command, reply, 0, timeout_seconds);
}

void CDocPhoneLink::ClosePort() {
    session_->ClosePort();
}

int CDocPhoneLink::Resync() {
    return cordis_->Resync();
}

void CDocPhoneLink::StopSAR() {
    cordis_->StopSAR();
}

}  // namespace parlo
