#pragma once
// The project file (".prj"): a small text format holding a project tree with
// every option that is set on an item. The reader is strict - any syntax
// error fails the whole read and leaves the tree untouched - and the writer's
// output reads back to a tree that writes the same bytes again.

#include <cstdint>
#include <string>
#include <string_view>

namespace ormbrook {

class AppSettings;
class ProjectItem;

enum ProjectToken : int {
    TokEnd = 0, // end of input, or any byte that starts no token
    TokComma = 1,
    TokEquals = 2,
    TokOpen = 3,
    TokClose = 4,
    TokUnknownWord = 5,
    TokNumber = 6,
    TokString = 7,
    // Keywords 8 to 64.
    KwFolder = 8, KwProjectDefault, KwRecord, KwBGColor, KwConnectionTimeout, KwReplyRcvTimeout,
    KwCtlRcvTimeout, KwDataRcvTimeout, KwCloseTimeout, KwDLNoExt, KwDLTotalTimeout, KwDLoadRetry,
    KwExtApplication, KwExtAudio, KwExtHtml, KwExtImage, KwExtOthers, KwExtText, KwExtVideo,
    KwGraphMax, KwIMGSW, KwLocalizeLink, KwLocalName, KwMUDrawSpeed, KwMUDrawType, KwMinPicSize,
    KwNoCache, KwNotDLNoExt, KwPilotArea, KwPilotType, KwRenewalType, KwTimer, KwTitle, KwURL,
    KwUseExtFilter, KwUseUVExtFilter, KwUVExtApplication, KwUVExtAudio, KwUVExtHtml, KwUVExtImage,
    KwUVExtOthers, KwUVExtText, KwUVExtVideo, KwCrossH, KwRandom, KwRasterCloseH, KwRasterH,
    KwRasterOpenH, KwWiperH, KwForbidden, KwSelected, KwUpperDir, KwOtherSite, KwAllFile,
    KwModifiedFile, KwFailedFile,
    // Added later, after the keywords the format began with.
    KwUseHttp10, KwRequisitesOffSite,
};

// Longest string the reader takes, and the part of a word that counts.
constexpr size_t kProjectMaxText = 4095;
// Deeper folder nesting is refused: nobody builds it, and it would cost
// unbounded stack in every walk of the tree.
constexpr int kProjectMaxDepth = 1000;

struct ProjectTokenValue {
    int code = TokEnd;
    uint32_t number = 0;   // TokNumber, saturated at INT32_MAX
    std::string_view text; // TokString (without quotes), words
    size_t offset = 0;     // where the token starts
};

class ProjectLexer {
public:
    explicit ProjectLexer(std::string_view input) : in_(input) {}
    ProjectTokenValue Next();
    // Set when a string longer than kProjectMaxText ended the input.
    bool stringTooLong() const { return stringTooLong_; }

private:
    std::string_view in_;
    size_t pos_ = 0;
    bool stringTooLong_ = false;
};

// The keyword code of a word, or TokUnknownWord.
int LookupProjectKeyword(std::string_view word);
const char* ProjectKeywordText(int code);

// Builds the tree under root (its options from the ProjectDefault block, its
// children from the blocks that follow). On a syntax error returns false with
// a message and leaves root as it was.
bool ReadProject(std::string_view input, ProjectItem& root, std::string* error = nullptr);

// The file's bytes for the tree under root.
std::string WriteProject(const ProjectItem& root, const AppSettings& app);

bool ReadProjectFile(const std::string& path, ProjectItem& root, std::string* error = nullptr);
// Writes a temporary file beside path, flushes it to disk and renames it over
// path, so that a failed save leaves the old file whole.
bool SaveProjectFile(const std::string& path, const ProjectItem& root, const AppSettings& app,
                     std::string* error = nullptr);

} // namespace ormbrook
