#include "parlo/store/text_util.h"

namespace parlo {

int32_t WToL(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\n' || s[i] == u'\r' ||
                            s[i] == u'\v' || s[i] == u'\f')) {
        ++i;
    }
    bool neg = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        neg = s[i] == u'-';
        ++i;
    }
    int64_t v = 0;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        v = v * 10 + (s[i] - u'0');
        if (v > 2147483648LL)
            v = 2147483648LL;
        ++i;
    }
    if (neg)
        v = -v;
    if (v > INT32_MAX)
        v = INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace parlo
