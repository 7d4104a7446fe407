// The error list of a synchronisation or phonebook run: texts from the string
// table, each one once, separated by "\n---\n". The first error of a run
// switches the view's error indicator on.
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>

namespace platform {
class StringTable;
}

namespace parlo {

class CEngineView;

inline constexpr const char16_t* kErrorSeparator = u"\n---\n";

class CErrorList {
  public:
    // `view` may be null; `strings` defaults to the client's string table.
    explicit CErrorList(CEngineView* view = nullptr,
                        const platform::StringTable* strings = nullptr);

    void SetView(CEngineView* view);

    // Adds the text of string `id`; see Add(text).
    void Add(unsigned id);
    // Adds `text` unless the list already holds it. The first text switches
    // the view's error indicator on.
    void Add(const std::u16string& text);
    // Adds the text of string `id` with %1, %2, ... replaced by `args`.
    void AddFormatted(unsigned id, std::initializer_list<std::u16string> args);
    std::u16string Format(unsigned id, std::initializer_list<std::u16string> args) const;

    // Takes `text` out of the list (an error that no longer holds, say a
    // message that was released); the indicator goes off when the list is
    // then empty. False when it was not listed.
    bool Remove(const std::u16string& text);
    // Empties the list and switches the indicator off.
    void Clear();
    // The list, and empties it (the indicator goes off): what the user sees
    // when the indicator is tapped.
    std::u16string Take();

    std::u16string Text() const;
    bool Empty() const;
    // True when the text of string `id` is listed.
    bool Contains(unsigned id) const;

  private:
    const platform::StringTable& strings_;
    mutable std::mutex mutex_;
    CEngineView* view_;
    std::u16string m_strErrors;
};

}  // namespace parlo
