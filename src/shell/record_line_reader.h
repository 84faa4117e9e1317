#pragma once
// The field rules shared by the timer file and the slide-show file: records of
// "|"-separated fields, one a line. Every read either succeeds and moves on or
// fails and leaves the record malformed; the caller then leaves that line out
// and reads on.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

class RecordLineReader {
public:
    explicit RecordLineReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    // Blanks are spaces and tabs.
    void SkipBlanks();

    // A text field: runs to "|", CR, LF or tab, after leading blanks. A tab
    // ends it, and only blanks may follow before the "|", which is consumed.
    // Fails on a missing "|" or a text longer than maxLength.
    bool ReadTextField(std::string& out, size_t maxLength);

    // A run of letters, digits or other bytes up to a blank or one of the stop
    // bytes; leading blanks skipped. Does not consume the stop byte.
    std::string ReadWord(std::string_view stops);

    // A run of decimal digits without sign after leading blanks; none reads
    // as 0. Values past 'limit' are held at it rather than wrapping.
    long ReadNumber(long limit);

    // Up to maxLetters ASCII letters after leading blanks; fails when more
    // letters follow.
    bool ReadLetters(std::string& out, size_t maxLetters);

    // Skips blanks and consumes c; fails when the next byte is anything else.
    bool Expect(char c);

    // Blanks, then the end of the line: CR LF, a bare LF (files edited on
    // this system) or the end of the file.
    bool EndOfRecord();

    // After a malformed record: on to the start of the next line.
    void SkipLine();
    // The line (from 1) the reading is in.
    int lineNumber() const;

private:
    char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    std::string_view text_;
    size_t pos_ = 0;
};

// Whether a text can be written as a field that reads back the same: within
// its limit, free of the bytes that end a field, not starting with a blank.
bool TextFits(std::string_view text, size_t limit);

// A text from outside (a page's title) made to fit a field: the bytes that
// end a field become spaces, leading blanks go, and a text over the limit
// is cut where no UTF-8 character is split.
std::string FieldText(std::string_view text, size_t limit);

// The lines of a list file that could not be read, for the user: "line 3
// of /home/u/.local/share/Ormbrook/QRY.tmf can't be read and was left out".
std::string UnreadLinesText(const std::string& path, const std::vector<int>& lines);

} // namespace ormbrook
