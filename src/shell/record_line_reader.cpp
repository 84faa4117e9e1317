#include "shell/record_line_reader.h"

#include <algorithm>

namespace ormbrook {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

void RecordLineReader::SkipBlanks()
{
    while (pos_ < text_.size() && IsBlank(text_[pos_]))
        ++pos_;
}

bool RecordLineReader::ReadTextField(std::string& out, size_t maxLength)
{
    SkipBlanks();
    const size_t start = pos_;
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c == '|' || c == '\r' || c == '\n' || c == '\t')
            break;
        ++pos_;
    }
    if (pos_ - start > maxLength)
        return false;
    out.assign(text_.substr(start, pos_ - start));
    return Expect('|');
}

std::string RecordLineReader::ReadWord(std::string_view stops)
{
    SkipBlanks();
    const size_t start = pos_;
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (IsBlank(c) || stops.find(c) != std::string_view::npos)
            break;
        ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
}

long RecordLineReader::ReadNumber(long limit)
{
    SkipBlanks();
    long value = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
        value = value * 10 + (text_[pos_] - '0');
        if (value > limit)
            value = limit;
        ++pos_;
    }
    return value;
}

bool RecordLineReader::ReadLetters(std::string& out, size_t maxLetters)
{
    SkipBlanks();
    const size_t start = pos_;
    while (pos_ < text_.size() && IsLetter(text_[pos_]))
        ++pos_;
    if (pos_ - start > maxLetters)
        return false;
    out.assign(text_.substr(start, pos_ - start));
    return true;
}

bool RecordLineReader::Expect(char c)
{
    SkipBlanks();
    if (Peek() != c || AtEnd())
        return false;
    ++pos_;
    return true;
}

bool RecordLineReader::EndOfRecord()
{
    SkipBlanks();
    if (AtEnd())
        return true;
    if (Peek() == '\r') {
        ++pos_;
        if (Peek() != '\n' || AtEnd())
            return false;
    }
    if (Peek() != '\n' || AtEnd())
        return false;
    ++pos_;
    return true;
}

void RecordLineReader::SkipLine()
{
    const size_t end = text_.find('\n', pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
}

int RecordLineReader::lineNumber() const
{
    const std::string_view before = text_.substr(0, pos_);
    return 1 + int(std::count(before.begin(), before.end(), '\n'));
}

std::string UnreadLinesText(const std::string& path, const std::vector<int>& lines)
{
    std::string text = lines.size() == 1 ? "line " : "lines ";
    for (size_t i = 0; i < lines.size() && i < 10; ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
    if (lines.size() > 10)
        text += ", ...";
    return text + " of " + path + (lines.size() == 1 ? " can't be read and was" : " can't be read and were") + " left out";
}

bool TextFits(std::string_view text, size_t limit)
{
    return text.size() <= limit && text.find_first_of(std::string_view("|\r\n\t\0", 5)) == std::string_view::npos
        && (text.empty() || text.front() != ' '); // leading blanks are skipped when read
}

std::string FieldText(std::string_view text, size_t limit)
{
    std::string out;
    for (char c : text) {
        if (std::string_view("|\r\n\t\0", 5).find(c) != std::string_view::npos)
            c = ' ';
        if (c == ' ' && out.empty())
            continue;
        out.push_back(c);
    }
    if (out.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
    }
    return out;
}

} // namespace ormbrook
