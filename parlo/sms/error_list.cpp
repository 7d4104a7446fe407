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

std::u16string CErrorList::Format(unsigned id, std::initializer_list<std::u16string> args) const {
    std::u16string text = strings_.Load(id);
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9') {
            size_t k = static_cast<size_t>(text[i + 1] - u'1');
            if (k < args.size())
                out += *(args.begin() + k);
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

void CErrorList::AddFormatted(unsigned id, std::initializer_list<std::u16string> args) {
    Add(Format(id, args));
}

bool CErrorList::Remove(const std::u16string& text) {
    CEngineView* emptied = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::u16string sep = kErrorSeparator;
        // Whole entries only: the list is the entries joined by the separator.
        const std::u16string all = sep + m_strErrors + sep;
        const size_t at = text.empty() ? std::u16string::npos : all.find(sep + text + sep);
        if (at == std::u16string::npos)
            return false;
        std::u16string rest = all.substr(0, at) + all.substr(at + sep.size() + text.size());
        // `rest` starts and ends with a separator unless nothing is left.
        m_strErrors = rest.size() > sep.size()
                          ? rest.substr(sep.size(), rest.size() - 2 * sep.size())
                          : std::u16string();
        if (m_strErrors.empty())
            emptied = view_;
    }
    if (emptied)
        emptied->SetErrorIndicator(false);
    return true;
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
