#include "parlo/sms/error_list.h"

#include "parlo/sms/engine_view.h"
#include "parlo_strings.h"
#include "platform/strings.h"

namespace parlo {

CErrorList::CErrorList(CEngineView* view, const platform::StringTable* strings)
    : strings_(strings ? *strings : strings::parlo()), view_(view) {}

void CErrorList::SetView(CEngineView* view) {
    std::lock_guard<std::mutex> lock(mutex_);
    view_ = view;
}

void CErrorList::Add(unsigned id) {
    Add(strings_.Load(id));
}

void CErrorList::Add(const std::u16string& text) {
    CEngineView* first = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!m_strErrors.empty() && m_strErrors.find(text) != std::u16string::npos)
            return;
        if (m_strErrors.empty())
            first = view_;
        else
            m_strErrors += kErrorSeparator;
        m_strErrors += text;
    }
    if (first)
        first->SetErrorIndicator(true);
}

void CErrorList::Clear() {
    Take();
}

std::u16string CErrorList::Take() {
    std::u16string taken;
    CEngineView* view;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken.swap(m_strErrors);
        view = view_;
    }
    if (view)
        view->SetErrorIndicator(false);
    return taken;
}

std::u16string CErrorList::Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return m_strErrors;
}

bool CErrorList::Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return m_strErrors.empty();
}

bool CErrorList::Contains(unsigned id) const {
    std::u16string text = strings_.Load(id);
    std::lock_guard<std::mutex> lock(mutex_);
    return !text.empty() && m_strErrors.find(text) != std::u16string::npos;
}

}  // namespace parlo
