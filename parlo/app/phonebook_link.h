// The phone link of the phonebook: the document's phone-link object and its
// phone session behind the interface the phonebook synchronisation uses.
#pragma once

#include "parlo/contacts/phonebook_sync.h"

class CCordis;

namespace parlo {

class CPhoneSession;

class CDocPhoneLink : public PhoneLink {
  public:
    CDocPhoneLink(CCordis* cordis, CPhoneSession* session) : cordis_(cordis), session_(session) {}

    void StartSAR() override;
    int OpenPhone() override;
    int IdentifyPhone() override;
    int SendAndReceive(const std::string& command, std::u16string& reply,
                       int timeout_seconds) override;
    void ClosePort() override;
    void StopSAR() override;
    int Resync() override;

  private:
    CCordis* cordis_;
    CPhoneSession* session_;
};

}  // namespace parlo
