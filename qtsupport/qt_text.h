// Text conversions between the suite's UTF-16 strings and Qt's.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qtsupport {

QString ToQString(std::u16string_view text);
std::u16string FromQString(const QString& text);

}  // namespace qtsupport
