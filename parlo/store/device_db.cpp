#include "parlo/store/device_db.h"

#include "parlo/store/text_util.h"
#include "platform/binio.h"
#include "platform/msrand.h"
#include "platform/text.h"

namespace parlo {

void ScrambleDeviceDb(std::string* bytes) {
    platform::MsRand rng(kDeviceDbSeed);
    for (char& c : *bytes)
        c = static_cast<char>(static_cast<uint8_t>(c) ^ (rng.Next() & 0xFF));
}

std::u16string DeviceDbResult::CheckMessage() const {
    if (failure != 2)
        return {};
    return platform::FromUtf8("Corrupted data file. -" + check + "-");
}

namespace {

// Check numbers of the tokens of a phone row and of a provider row.
const char* const kPhoneChecks[19] = {"4",  "5",  "7",  "8",  "9",  "10", "11", "12", "13", "14",
                                      "15", "16", "17", "18", "19", "20", "21", "22", "23"};
const char* const kProviderChecks[20] = {
    "27",    "28",    "29",    "30",   "31",   "35",   "36",   "36-01", "36-05", "36-06",
    "36-07", "36-08", "36-09", "36-2", "36-3", "36-4", "36-5", "36-6",  "36-7",  "36-8"};

class Parser {
  public:
    explicit Parser(std::string_view text) : t_(text) {}

    bool AtEnd() const { return p_ >= t_.size(); }
    char Peek() const { return t_[p_]; }

    // Skips to the next '#'; false at the end of the text.
    bool SkipToHash() {
        while (p_ < t_.size() && t_[p_] != '#')
            ++p_;
        return p_ < t_.size();
    }

    // Reads `n` tokens of a row that starts at '#'. Returns the index of the
    // token whose closing '#' is missing, or -1 when all were read.
    int ReadRow(int n, std::vector<std::u16string>* tokens) {
        tokens->clear();
        ++p_;  // the row's opening '#'
        for (int k = 0; k < n; ++k) {
            size_t start = p_;
            while (p_ < t_.size() && t_[p_] != '#')
                ++p_;
            if (p_ >= t_.size())
                return k;
            tokens->push_back(platform::Cp1252ToUtf16(t_.substr(start, p_ - start)));
            ++p_;  // the closing '#'
        }
        return -1;
    }

    // After the closing '#' of a row: CR and one more character. Returns 0,
    // or 1 when nothing follows, 2 when no CR follows, 3 when the text ends
    // after the row.
    int EndRow() {
        if (p_ >= t_.size())
            return 1;
        if (t_[p_] != '\r')
            return 2;
        p_ += 2;
        if (p_ >= t_.size()) {
            p_ = t_.size();
            return 3;
        }
        return 0;
    }

    void Advance() { ++p_; }

  private:
    std::string_view t_;
    size_t p_ = 0;
};

std::array<uint8_t, 4> ParseAddress(const std::u16string& s) {
    std::array<uint8_t, 4> out{};
    std::u16string parts[4];
    int part = 0;
    for (char16_t c : s) {
        if (c == u'.') {
            if (++part > 3)
                return {};
        } else {
            parts[part] += c;
        }
    }
    if (part != 3)
        return {};
    for (int i = 0; i < 4; ++i) {
        if (parts[i].empty())
            return {};
        out[i] = static_cast<uint8_t>(WToL(parts[i]));
    }
    return out;
}

PhoneModelRecord PhoneFromTokens(const std::vector<std::u16string>& t) {
    PhoneModelRecord r;
    r.m_strName = t[0] + u" " + t[1];
    r.m_nBaudRate = WToL(t[2]);
    r.m_nByteSize = WToL(t[3]);
    r.m_nParity = WToL(t[4]);
    r.m_nStopBits = WToL(t[5]);
    r.m_nFurther = WToL(t[6]);
    r.m_strText8 = t[7];
    r.m_strText9 = t[8];
    for (int i = 0; i < 4; ++i)
        r.m_strTexts[i] = t[9 + i];
    r.m_strManufacturerMatch = t[13];
    r.m_strModelMatch = t[14];
    r.m_nStorageSize = WToL(t[15]);
    r.m_strText17 = t[16];
    return r;
}

OperatorRecord OperatorFromTokens(const std::vector<std::u16string>& t) {
    OperatorRecord r;
    r.m_strName = t[0];
    for (int i = 0; i < 4; ++i)
        r.m_strTexts[i] = t[1 + i];
    r.m_address1 = ParseAddress(t[5]);
    r.m_address2 = ParseAddress(t[6]);
    for (int i = 0; i < 6; ++i)
        r.m_strOperatorNames[i] = t[7 + i];
    r.m_strSmsCentre = t[13];
    r.m_strText15 = t[14];
    r.m_strText16 = t[15];
    r.m_nFlags[0] = t[16].empty() ? 1 : 0;
    r.m_nFlags[1] = t[17].empty() ? 1 : 0;
    r.m_nFlags[2] = t[18].empty() ? 1 : 0;
    r.m_nFlags[3] = t[19].empty() ? 0 : 1;
    return r;
}

DeviceDbResult Fail(const char* check) {
    DeviceDbResult r;
    r.failure = 2;
    r.check = check;
    return r;
}

}  // namespace

DeviceDbResult ParseDeviceDb(std::string_view text, std::vector<PhoneModelRecord>* phones,
                             std::vector<OperatorRecord>* operators) {
    size_t zero = text.find('\0');
    if (zero != std::string_view::npos)
        text = text.substr(0, zero);
    Parser p(text);
    if (p.AtEnd() || p.Peek() != '*')
        return Fail("1");
    if (!p.SkipToHash())
        return Fail("2");

    std::vector<std::u16string> tokens;
    // Section 1: phone rows.
    for (;;) {
        char c = p.Peek();
        if (c == '*')
            break;
        if (c != '#')
            return Fail("3");
        int missing = p.ReadRow(19, &tokens);
        if (missing >= 0)
            return Fail(kPhoneChecks[missing]);
        int end = p.EndRow();
        if (end == 1)
            return Fail("23");
        if (end == 2)
            return Fail("24");
        phones->push_back(PhoneFromTokens(tokens));
        if (end == 3)
            return Fail("25");
    }
    p.Advance();
    if (!p.SkipToHash())
        return Fail("25");

    // Section 2: provider rows, up to the '*' that ends it.
    for (;;) {
        char c = p.Peek();
        if (c == '*')
            break;
        if (c != '#')
            return Fail("26");
        int missing = p.ReadRow(20, &tokens);
        if (missing >= 0)
            return Fail(kProviderChecks[missing]);
        int end = p.EndRow();
        if (end == 1)
            return Fail("37");
        if (end == 2)
            return Fail("38");
        operators->push_back(OperatorFromTokens(tokens));
        if (end == 3)
            return Fail("39");
    }
    DeviceDbResult ok;
    ok.ok = true;
    return ok;
}

DeviceDbResult LoadDeviceDb(const std::filesystem::path& path,
                            std::vector<PhoneModelRecord>* phones,
                            std::vector<OperatorRecord>* operators) {
    std::string bytes;
    if (!platform::ReadFileBytes(path, &bytes)) {
        DeviceDbResult r;
        r.failure = 1;
        return r;
    }
    ScrambleDeviceDb(&bytes);
    return ParseDeviceDb(bytes, phones, operators);
}

std::string SourceToDeviceDbText(std::string_view source) {
    std::string out;
    size_t pos = 0;
    while (pos < source.size()) {
        size_t nl = source.find('\n', pos);
        std::string_view line =
            source.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? source.size() : nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line[0] == ';')
            continue;
        out.append(platform::Utf16ToCp1252(platform::FromUtf8(line)));
        out.append("\r\n");
    }
    return out;
}

}  // namespace parlo
