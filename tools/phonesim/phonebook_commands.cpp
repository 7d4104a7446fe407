// The phonebook commands of 3GPP TS 27.007 (and the TE character set they
// use for texts).
#include <algorithm>

#include "tools/phonesim/charset.h"
#include "tools/phonesim/modem.h"

namespace phonesim {
namespace {

constexpr int kCmeNotSupported = 4;
constexpr int kCmeMemoryFull = 20;
constexpr int kCmeInvalidIndex = 21;
constexpr int kCmeNotFound = 22;
constexpr int kCmeTextTooLong = 24;
constexpr int kCmeInvalidText = 25;
constexpr int kCmeDialTooLong = 26;
constexpr int kCmeInvalidDial = 27;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

bool ValidDialString(const std::string& number) {
    for (size_t i = 0; i < number.size(); ++i) {
        char c = number[i];
        if (c == '+' && i == 0)
            continue;
        if ((c >= '0' && c <= '9') || c == '*' || c == '#' || c == 'p' || c == 'P' || c == 'w' ||
            c == 'W' || c == ',') {
            continue;
        }
        return false;
    }
    return true;
}

std::u16string Lower(std::u16string s) {
    for (auto& c : s) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

}  // namespace

bool Modem::OffersCharset(const std::string& name) const {
    const std::vector<std::string>& offered = state_->charsets;
    return offered.empty() || std::find(offered.begin(), offered.end(), name) != offered.end();
}

Modem::Result Modem::CmdCharset(const AtCommand& c, std::string* info) {
    switch (c.op) {
        case CmdOp::kRead:
            AddInfo(info, "+CSCS: " + Quoted(charset_));
            return Result::Ok();
        case CmdOp::kTest: {
            std::string list;
            for (const auto& s : SupportedCharsets()) {
                if (OffersCharset(s))
                    list += (list.empty() ? "" : ",") + Quoted(s);
            }
            AddInfo(info, "+CSCS: (" + list + ")");
            return Result::Ok();
        }
        case CmdOp::kSet: {
            std::vector<AtArg> args;
            if (!ParseArgs(c.args, &args) || args.size() != 1 || !args[0].quoted) {
                return Result::Error();
            }
            std::string name = args[0].text;
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
            if (!IsSupportedCharset(name) || !OffersCharset(name))
                return Result::Cme(kCmeNotSupported);
            charset_ = name;
            return Result::Ok();
        }
        default:
            return Result::Error();
    }
}

Modem::Result Modem::CmdPhonebookStorage(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest) {
        std::string list;
        for (const auto& [name, pb] : state_->phonebooks) {
            list += (list.empty() ? "" : ",") + Quoted(name);
        }
        AddInfo(info, "+CPBS: (" + list + ")");
        return Result::Ok();
    }
    if (c.op == CmdOp::kExec)
        return Result::Error();
    Result sim = SimCheckCme();
    if (sim.kind != ResultKind::kOk)
        return sim;
    if (c.op == CmdOp::kRead) {
        auto it = state_->phonebooks.find(phonebook_);
        if (it == state_->phonebooks.end())
            return Result::Cme(kCmeNotSupported);
        const Phonebook& pb = it->second;
        AddInfo(info, "+CPBS: " + Quoted(phonebook_) + "," + std::to_string(pb.Used()) + "," +
                          std::to_string(pb.last - pb.first + 1));
        return Result::Ok();
    }
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.empty() || args.size() > 2 || !args[0].quoted) {
        return Result::Error();
    }
    if (!state_->phonebooks.count(args[0].text))
        return Result::Cme(kCmeNotSupported);
    phonebook_ = args[0].text;
    return Result::Ok();
}

Modem::Result Modem::CmdPhonebookRead(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kExec || c.op == CmdOp::kRead)
        return Result::Error();
    Result sim = SimCheckCme();
    if (sim.kind != ResultKind::kOk)
        return sim;
    auto it = state_->phonebooks.find(phonebook_);
    if (it == state_->phonebooks.end())
        return Result::Cme(kCmeNotSupported);
    Phonebook& pb = it->second;
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CPBR: (" + std::to_string(pb.first) + "-" + std::to_string(pb.last) + ")," +
                          std::to_string(pb.number_length) + "," + std::to_string(pb.text_length));
        return Result::Ok();
    }
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.empty() || args.size() > 2)
        return Result::Error();
    auto first = ArgNumber(args[0]);
    if (!first)
        return Result::Error();
    int last = *first;
    if (args.size() == 2) {
        auto l = ArgNumber(args[1]);
        if (!l)
            return Result::Error();
        last = *l;
    }
    if (*first < pb.first || *first > pb.last || last < *first) {
        return Result::Cme(kCmeInvalidIndex);
    }
    bool overrange = last > pb.last;
    if (overrange && !state_->phonebook_partial_overrange)
        return Result::Cme(kCmeInvalidIndex);
    std::string text;
    for (const auto& e : pb.entries) {
        if (e.index < *first || e.index > last)
            continue;
        if (!text.empty())
            text += "\r\n";
        text += "+CPBR: " + std::to_string(e.index) + "," + Quoted(e.number) + "," +
                std::to_string(e.type) + "," + Quoted(EncodeText(charset_, Utf8ToUtf16(e.text)));
    }
    if (!text.empty())
        AddInfo(info, text);
    return overrange ? Result::Cme(kCmeInvalidIndex) : Result::Ok();
}

Modem::Result Modem::CmdPhonebookWrite(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kExec || c.op == CmdOp::kRead)
        return Result::Error();
    Result sim = SimCheckCme();
    if (sim.kind != ResultKind::kOk)
        return sim;
    auto it = state_->phonebooks.find(phonebook_);
    if (it == state_->phonebooks.end())
        return Result::Cme(kCmeNotSupported);
    Phonebook& pb = it->second;
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CPBW: (" + std::to_string(pb.first) + "-" + std::to_string(pb.last) + ")," +
                          std::to_string(pb.number_length) + ",(129,145,161)," +
                          std::to_string(pb.text_length));
        return Result::Ok();
    }
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.empty() || args.size() > 4)
        return Result::Error();
    std::optional<int> index;
    if (args[0].present) {
        index = ArgNumber(args[0]);
        if (!index)
            return Result::Error();
        if (*index < pb.first || *index > pb.last)
            return Result::Cme(kCmeInvalidIndex);
    }
    bool has_number = args.size() >= 2 && args[1].present;
    bool has_text = args.size() >= 4 && args[3].present;
    if (!has_number && !has_text) {
        if (!index)
            return Result::Error();
        if (pb.Erase(*index))
            host_->StateChanged();
        return Result::Ok();
    }
    PhonebookEntry entry;
    if (has_number) {
        if (!args[1].quoted)
            return Result::Error();
        entry.number = args[1].text;
    }
    if (!ValidDialString(entry.number))
        return Result::Cme(kCmeInvalidDial);
    size_t digits = entry.number.size() - (entry.number.rfind('+', 0) == 0 ? 1 : 0);
    if (static_cast<int>(digits) > pb.number_length)
        return Result::Cme(kCmeDialTooLong);
    entry.type = entry.number.rfind('+', 0) == 0 ? 145 : 129;
    if (args.size() >= 3 && args[2].present) {
        auto t = ArgNumber(args[2]);
        if (!t || *t < 128 || *t > 255)
            return Result::Error();
        entry.type = *t;
    }
    if (has_text) {
        if (!args[3].quoted)
            return Result::Error();
        std::u16string text;
        if (!DecodeText(charset_, args[3].text, &text))
            return Result::Cme(kCmeInvalidText);
        if (StoredTextLength(text) > pb.text_length)
            return Result::Cme(kCmeTextTooLong);
        entry.text = Utf16ToUtf8(text);
    }
    if (!index) {
        int free = pb.FirstFree();
        if (free == 0)
            return Result::Cme(kCmeMemoryFull);
        index = free;
    }
    entry.index = *index;
    pb.Put(entry);
    host_->StateChanged();
    return Result::Ok();
}

Modem::Result Modem::CmdPhonebookFind(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kExec || c.op == CmdOp::kRead)
        return Result::Error();
    Result sim = SimCheckCme();
    if (sim.kind != ResultKind::kOk)
        return sim;
    auto it = state_->phonebooks.find(phonebook_);
    if (it == state_->phonebooks.end())
        return Result::Cme(kCmeNotSupported);
    const Phonebook& pb = it->second;
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CPBF: " + std::to_string(pb.number_length) + "," +
                          std::to_string(pb.text_length));
        return Result::Ok();
    }
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() != 1 || !args[0].quoted)
        return Result::Error();
    std::u16string wanted;
    if (!DecodeText(charset_, args[0].text, &wanted))
        return Result::Cme(kCmeInvalidText);
    wanted = Lower(wanted);
    std::string text;
    for (const auto& e : pb.entries) {
        std::u16string name = Lower(Utf8ToUtf16(e.text));
        if (name.compare(0, wanted.size(), wanted) != 0)
            continue;
        if (!text.empty())
            text += "\r\n";
        text += "+CPBF: " + std::to_string(e.index) + "," + Quoted(e.number) + "," +
                std::to_string(e.type) + "," + Quoted(EncodeText(charset_, Utf8ToUtf16(e.text)));
    }
    if (text.empty())
        return Result::Cme(kCmeNotFound);
    AddInfo(info, text);
    return Result::Ok();
}

}  // namespace phonesim
